// The "qkupath" extension: hands out new, unused file paths under the utility directory
// (host option UTILPATH, default the system temporary directory). Creating the files is
// left to the page-file and byte-file extensions.
#include "host/ext/qkupath.h"

#include "host/supervisor.h"
#include "support/qkupath.h"

#include <atomic>
#include <filesystem>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>

namespace qrxhost {
namespace {

std::atomic<uint64_t> gNextPath{1};

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A new path "qrx_<pid>_<n>.utl" that names no file yet in `dir`; kQkUpathNoDirectory when
// `dir` is not a directory this process can write to.
int32_t newPathIn(const std::string& dir, QkChar** path, int64_t* length) {
  if (path == nullptr || length == nullptr)
    return kQkUpathNoDirectory;
  *path = nullptr;
  *length = 0;
  std::error_code ec;
  if (dir.empty() || !std::filesystem::is_directory(dir, ec) ||
      ::access(dir.c_str(), W_OK | X_OK) != 0)
    return kQkUpathNoDirectory;
  std::string full;
  for (;;) {
    full = (std::filesystem::path(dir) /
            ("qrx_" + std::to_string(::getpid()) + "_" + std::to_string(gNextPath++) + ".utl"))
               .string();
    if (!std::filesystem::exists(full, ec))
      break;
  }
  std::u32string wide = pathToWide(full);
  auto* out = new QkChar[wide.size() + 1];
  for (size_t i = 0; i < wide.size(); ++i)
    out[i] = wide[i];
  out[wide.size()] = 0;
  *path = out;
  *length = static_cast<int64_t>(wide.size());
  return 0;
}

// The directory that the host option names, else the system temporary directory.
std::string directoryOf(const QkChar* option, int32_t optionLength) {
  std::string name = option ? pathToNarrow(option, optionLength) : std::string("UTILPATH");
  if (auto v = hostOption(name); v && !v->empty())
    return *v;
  return utilityDirectory();
}

int64_t freeBytes(QkUpathExtension*, const QkChar* option, int32_t optionLength) {
  struct statvfs fs {};
  if (::statvfs(directoryOf(option, optionLength).c_str(), &fs) != 0)
    return -1;
  return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
}

int32_t getPathname(QkUpathExtension*, const QkChar* option, int32_t optionLength, int32_t,
                    QkChar** path, int64_t* length, int32_t) {
  return newPathIn(directoryOf(option, optionLength), path, length);
}

int32_t getPathnameIn(QkUpathExtension*, const char* dir, int64_t dirLength, QkChar** path,
                      int64_t* length) {
  return newPathIn(dir != nullptr && dirLength > 0 ? std::string(dir, size_t(dirLength))
                                                   : std::string(),
                   path, length);
}

void freePathname(QkUpathExtension*, QkChar* path) { delete[] path; }

void unload(QkExtension* self) { delete reinterpret_cast<QkUpathExtension*>(self); }

} // namespace

std::string utilityDirectory() {
  if (auto v = hostOption("UTILPATH"); v && !v->empty())
    return *v;
  std::error_code ec;
  auto tmp = std::filesystem::temp_directory_path(ec);
  return ec ? std::string("/tmp") : tmp.string();
}

std::string pathToNarrow(const QkChar* path, int64_t length) {
  std::string out;
  if (path == nullptr)
    return out;
  if (length < 0) {
    length = 0;
    while (path[length] != 0)
      ++length;
  }
  for (int64_t i = 0; i < length; ++i)
    appendUtf8(out, path[i]);
  return out;
}

std::u32string pathToWide(const std::string& path) {
  std::u32string out;
  size_t i = 0;
  while (i < path.size()) {
    auto b = static_cast<unsigned char>(path[i]);
    char32_t c;
    int extra;
    if (b < 0x80) {
      c = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      extra = 2;
    } else {
      c = b & 0x07;
      extra = 3;
    }
    ++i;
    for (int k = 0; k < extra && i < path.size(); ++k, ++i)
      c = (c << 6) | (static_cast<unsigned char>(path[i]) & 0x3F);
    out += c;
  }
  return out;
}

QkExtension* makeQkupath() {
  auto* e = new QkUpathExtension{};
  e->header.name = "qkupath";
  e->header.unload = unload;
  e->qkupathGetPathnameDirect = getPathname;
  e->qkupathFreePathname = freePathname;
  e->qkupathFreeBytes = freeBytes;
  e->qkupathGetPathnameIn = getPathnameIn;
  return &e->header;
}

} // namespace qrxhost
