// Tests of the utility-file extensions: qkupath paths, qkpgf page files across the
// memory/disk boundary, reopen and rewrite, and qkbkf byte files at running positions; the
// fault hook and the live-file counter.
#include "host/ext/extlist.h"
#include "host/ext/qkmemfig.h"
#include "host/ext/qkpgf.h"
#include "host/ext/qkupath.h"
#include "host/supervisor.h"
#include "host/testswitches.h"
#include "support/qkbkf.h"
#include "support/qkpgf.h"
#include "support/qkupath.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const QkChar kUtilpath[] = U"UTILPATH";

struct ExtFiles : ::testing::Test {
  fs::path dir;
  QkUpathExtension* up = nullptr;
  QkPgfExtension* pgf = nullptr;
  QkBkfExtension* bkf = nullptr;

  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("qrx ext test dir with spaces " + std::to_string(::getpid()) + std::string(80, 'd'));
    fs::create_directories(dir);
    qrxhost::setHostOption("UTILPATH", dir.string());
    qrxhost::resetPageFileSettings();
    up = reinterpret_cast<QkUpathExtension*>(qrxhost::loadExtension("qkupath"));
    pgf = reinterpret_cast<QkPgfExtension*>(qrxhost::loadExtension("qkpgf"));
    bkf = reinterpret_cast<QkBkfExtension*>(qrxhost::loadExtension("qkbkf"));
    ASSERT_TRUE(up && pgf && bkf);
  }
  void TearDown() override {
    up->header.unload(&up->header);
    pgf->header.unload(&pgf->header);
    bkf->header.unload(&bkf->header);
    qrxhost::resetPageFileSettings();
    qrxhost::setHostOption("UTILPATH", "");
    fs::remove_all(dir);
  }
  size_t filesInDir() const {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(dir), fs::directory_iterator{}));
  }
  // A page file opened for writing with the given page size; path freed by the caller.
  QkPageFile* openPageFile(uint32_t pageSize, QkChar** path) {
    int64_t len = 0;
    EXPECT_EQ(up->qkupathGetPathnameDirect(up, kUtilpath, 8, -1, path, &len, 0), 0);
    QkPageFile* f = pgf->qkpgfCreate(pgf, 0);
    EXPECT_EQ(pgf->qkpgfSetPath(f, *path, len, 0), 0);
    QkPgfAttributes attrs{};
    attrs.pageSize = pageSize;
    EXPECT_EQ(pgf->qkpgfSetAttributes(f, &attrs, 0), 0);
    f->accessMode = 2;
    f->count = 1;
    f->sharing = 2;
    f->flagA = f->flagB = 1;
    EXPECT_EQ(pgf->qkpgfOpen(f, 0), 0);
    return f;
  }
  void fillPage(QkPageFile* f, int64_t n, unsigned char seed) {
    void* buf = nullptr;
    ASSERT_EQ(pgf->qkpgfNewPage(f, &buf, 0), 0);
    auto* b = static_cast<unsigned char*>(buf);
    for (uint32_t i = 0; i < f->pageSize; ++i)
      b[i] = static_cast<unsigned char>(seed + i * 7);
    QkPageDescriptor d{n, buf, nullptr, f->pageSize, 0};
    ASSERT_EQ(pgf->qkpgfWritePage(f, &d, 0), 0);
  }
  bool pageHas(QkPageFile* f, int64_t n, unsigned char seed) {
    QkPageDescriptor d{n, nullptr, nullptr, f->pageSize, 0};
    if (pgf->qkpgfReadPage(f, &d, 0) != 0)
      return false;
    auto* b = static_cast<unsigned char*>(d.buffer);
    for (uint32_t i = 0; i < f->pageSize; ++i)
      if (b[i] != static_cast<unsigned char>(seed + i * 7))
        return false;
    pgf->qkpgfReleasePage(f, d.buffer, 0);
    return true;
  }
};

TEST_F(ExtFiles, PathsAreNewUnderUtilpathWithSpacesAndLongNames) {
  QkChar* a = nullptr;
  QkChar* b = nullptr;
  int64_t la = 0, lb = 0;
  ASSERT_EQ(up->qkupathGetPathnameDirect(up, kUtilpath, 8, -1, &a, &la, 0), 0);
  ASSERT_EQ(up->qkupathGetPathnameDirect(up, kUtilpath, 8, -1, &b, &lb, 0), 0);
  std::string pa = qrxhost::pathToNarrow(a, la), pb = qrxhost::pathToNarrow(b, lb);
  EXPECT_NE(pa, pb);
  EXPECT_GT(la, 64); // never cut to a fixed width
  EXPECT_EQ(fs::path(pa).parent_path(), dir);
  up->qkupathFreePathname(up, a);
  up->qkupathFreePathname(up, b);

  qrxhost::setHostOption("UTILPATH", (dir / "missing").string());
  QkChar* c = nullptr;
  int64_t lc = 0;
  EXPECT_NE(up->qkupathGetPathnameDirect(up, kUtilpath, 8, -1, &c, &lc, 0), 0);
  EXPECT_EQ(c, nullptr);
}

TEST_F(ExtFiles, PagesCrossMemoryAndDiskReopenAndRewriteInPlace) {
  qrxhost::setPageFileMemoryPages(2);
  int live0 = qrxhost::liveUtilityFiles();
  QkChar* path = nullptr;
  QkPageFile* f = openPageFile(48, &path);
  EXPECT_EQ(f->pageSize, 48u);
  EXPECT_EQ(qrxhost::liveUtilityFiles(), live0 + 1);
  for (int64_t n = 1; n <= 7; ++n)
    fillPage(f, n, static_cast<unsigned char>(n));
  // Page n is at (n - 1) x 48 of the file; pages 1 and 2 reach it only when it is kept.
  fs::path onDisk = qrxhost::pathToNarrow(path, -1);
  EXPECT_EQ(fs::file_size(onDisk), 7u * 48u);
  for (int64_t n = 1; n <= 7; ++n)
    EXPECT_TRUE(pageHas(f, n, static_cast<unsigned char>(n))) << n;
  QkPageDescriptor beyond{9, nullptr, nullptr, 48, 0};
  EXPECT_NE(pgf->qkpgfWritePage(f, &beyond, 0), 0) << "a gap in page numbers is refused";

  // Close keeping the file, reopen read only: pages come back, writes are refused.
  ASSERT_EQ(pgf->qkpgfClose(f, 0, 0), 0);
  EXPECT_TRUE(fs::exists(onDisk));
  f->accessMode = 1;
  f->sharing = 4;
  f->update = 0;
  ASSERT_EQ(pgf->qkpgfOpen(f, 0), 0);
  EXPECT_TRUE(pageHas(f, 6, 6));
  QkPageDescriptor d{6, nullptr, nullptr, 48, 0};
  ASSERT_EQ(pgf->qkpgfReadPage(f, &d, 0), 0);
  EXPECT_NE(pgf->qkpgfWritePage(f, &d, 0), 0);

  // Another object opens the kept file: every page is there, memory pages included.
  QkPageFile* other = pgf->qkpgfCreate(pgf, 0);
  int64_t pathLength = 0;
  while (path[pathLength] != 0)
    ++pathLength;
  ASSERT_EQ(pgf->qkpgfSetPath(other, path, pathLength, 0), 0);
  QkPgfAttributes same{};
  same.pageSize = same.companionSize = 48;
  ASSERT_EQ(pgf->qkpgfSetAttributes(other, &same, 0), 0);
  other->accessMode = 1;
  other->sharing = 2;
  other->update = 0;
  ASSERT_EQ(pgf->qkpgfOpen(other, 0), 0);
  for (int64_t n = 1; n <= 7; ++n)
    EXPECT_TRUE(pageHas(other, n, static_cast<unsigned char>(n))) << n;
  ASSERT_EQ(pgf->qkpgfClose(other, 0, 0), 0);
  pgf->qkpgfDestroy(other, 0);
  EXPECT_TRUE(fs::exists(onDisk)) << "a shared reader never deletes the file";

  // Reopen for update: a rewritten page keeps its number and the others stay.
  ASSERT_EQ(pgf->qkpgfClose(f, 0, 0), 0);
  f->update = 2;
  ASSERT_EQ(pgf->qkpgfOpen(f, 0), 0);
  for (int64_t n : {2, 5})
    fillPage(f, n, static_cast<unsigned char>(100 + n));
  for (int64_t n = 1; n <= 7; ++n)
    EXPECT_TRUE(pageHas(f, n, static_cast<unsigned char>(n == 2 || n == 5 ? 100 + n : n))) << n;

  ASSERT_EQ(pgf->qkpgfClose(f, 1, 0), 0);
  EXPECT_FALSE(fs::exists(onDisk));
  pgf->qkpgfDestroy(f, 0);
  up->qkupathFreePathname(up, path);
  EXPECT_EQ(qrxhost::liveUtilityFiles(), live0);
  EXPECT_EQ(filesInDir(), 0u);
}

TEST_F(ExtFiles, PagefilePagesizeOptionSetsTheStandardSizes) {
  qrxhost::setHostOption("PAGEFILE_PAGESIZE", "72");
  QkPageFile* f = pgf->qkpgfCreate(pgf, 0);
  uint32_t sizes[3] = {};
  ASSERT_EQ(pgf->qkpgfGetAttributes(f, sizes, 0), 0);
  EXPECT_EQ(sizes[0], 72u);
  EXPECT_EQ(sizes[1], 72u);
  EXPECT_EQ(sizes[2], 72u);
  pgf->qkpgfDestroy(f, 0);
  qrxhost::setHostOption("PAGEFILE_PAGESIZE", "");
}

TEST_F(ExtFiles, DestroyAndDeleteLeaveNoFile) {
  int live0 = qrxhost::liveUtilityFiles();
  QkChar* path = nullptr;
  QkPageFile* f = openPageFile(64, &path);
  fillPage(f, 1, 1);
  pgf->qkpgfDestroy(f, 0); // still open: destroy deletes
  up->qkupathFreePathname(up, path);
  f = openPageFile(64, &path);
  ASSERT_EQ(pgf->qkpgfClose(f, 0, 0), 0);
  ASSERT_EQ(pgf->qkpgfDelete(f, 0), 0);
  pgf->qkpgfDestroy(f, 0);
  up->qkupathFreePathname(up, path);
  EXPECT_EQ(qrxhost::liveUtilityFiles(), live0);
  EXPECT_EQ(filesInDir(), 0u);
}

TEST_F(ExtFiles, FaultHookFailsExactlyTheNthReadOrWrite) {
  qrxhost::setPageFileMemoryPages(1);
  QkChar* path = nullptr;
  QkPageFile* f = openPageFile(32, &path);
  qrxhost::failUtilityIoAt(3);
  void* buf = nullptr;
  ASSERT_EQ(pgf->qkpgfNewPage(f, &buf, 0), 0);
  std::memset(buf, 0, 32);
  std::vector<int32_t> rcs;
  for (int64_t n = 1; n <= 4; ++n) {
    QkPageDescriptor d{n, buf, nullptr, 32, 0};
    rcs.push_back(pgf->qkpgfWritePage(f, &d, 0));
    if (rcs.back() != 0)
      break;
  }
  EXPECT_EQ(rcs, (std::vector<int32_t>{0, 0, kQkPgfIoError}));
  EXPECT_EQ(qrxhost::utilityIoCount(), 3);
  qrxhost::failUtilityIoAt(0);
  pgf->qkpgfDestroy(f, 0);
  up->qkupathFreePathname(up, path);
}

TEST_F(ExtFiles, ByteFilesReadAndWriteAtPositions) {
  int live0 = qrxhost::liveUtilityFiles();
  QkChar* path = nullptr;
  int64_t len = 0;
  ASSERT_EQ(up->qkupathGetPathnameDirect(up, kUtilpath, 8, -1, &path, &len, 0), 0);
  QkBkfCreateBlock block{};
  int32_t status = -1;
  QkByteFile* f = bkf->qkbkfCreate(bkf, path, len, &block, 0, 0, "test", &status, 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(qrxhost::liveUtilityFiles(), live0 + 1);

  const char first[] = "abcdef", second[] = "XYZ";
  int64_t pos = 0;
  QkBkfPosition tok{};
  ASSERT_EQ(bkf->qkbkfSetPosition(f, &pos, &tok, 0), 0);
  ASSERT_EQ(bkf->qkbkfWrite(f, first, 6, 0, &tok, 0), 0);
  pos = 2;
  ASSERT_EQ(bkf->qkbkfSetPosition(f, &pos, &tok, 0), 0);
  ASSERT_EQ(bkf->qkbkfWrite(f, second, 3, 0, &tok, 0), 0);
  ASSERT_EQ(bkf->qkbkfSeekEnd(f, &tok, 2, 0), 0);
  EXPECT_EQ(tok.offset, 6);

  char got[16] = {};
  void* bp = got;
  int64_t want = 10;
  pos = 1;
  ASSERT_EQ(bkf->qkbkfSetPosition(f, &pos, &tok, 0), 0);
  ASSERT_EQ(bkf->qkbkfRead(f, &bp, &want, 0, &tok, 0), 0);
  EXPECT_EQ(want, 5); // a read past the end gets what there is
  EXPECT_EQ(std::string(got, 5), "bXYZf");

  ASSERT_EQ(bkf->qkbkfClose(f), 0);
  EXPECT_EQ(bkf->qkbkfDelete(bkf, path, len, 0, 0), 0);
  EXPECT_NE(bkf->qkbkfDelete(bkf, path, len, 0, 0), 0) << "a second delete finds nothing";
  up->qkupathFreePathname(up, path);
  EXPECT_EQ(qrxhost::liveUtilityFiles(), live0);
  EXPECT_EQ(filesInDir(), 0u);
}

} // namespace

namespace {

TEST(HostMemoryFigure, MemsizeOptionOrTheSystemFigureInKilobytes) {
  int64_t kb = 0;
  qrxhost::setHostOption("MEMSIZE", "2G");
  ASSERT_EQ(qrxhost::hostMemoryFigure(&kb), 0);
  EXPECT_EQ(kb, 2 * 1024 * 1024);
  qrxhost::setHostOption("MEMSIZE", "1048576"); // bytes
  ASSERT_EQ(qrxhost::hostMemoryFigure(&kb), 0);
  EXPECT_EQ(kb, 1024);
  qrxhost::setHostOption("MEMSIZE", "");
  ASSERT_EQ(qrxhost::hostMemoryFigure(&kb), 0);
  EXPECT_GT(kb, 0);
  qrxhost::setMemoryFigureForTest(-1);
  EXPECT_NE(qrxhost::hostMemoryFigure(&kb), 0);
  qrxhost::setMemoryFigureForTest(0);
}

} // namespace

namespace {

TEST(UtilityFileDeathTest, FilesLeftOpenAreDeletedWhenTheProcessEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const fs::path path =
      fs::temp_directory_path() / ("qrx leftover " + std::to_string(::getpid()) + ".utl");
  EXPECT_EXIT(
      {
        auto* bkf = reinterpret_cast<QkBkfExtension*>(qrxhost::loadExtension("qkbkf"));
        std::u32string wide = qrxhost::pathToWide(path.string());
        QkBkfCreateBlock block{};
        int32_t status = -1;
        QkByteFile* f = bkf->qkbkfCreate(bkf, wide.data(), static_cast<int64_t>(wide.size()),
                                         &block, 0, 0, "left open", &status, 0);
        std::exit(f != nullptr && status == 0 && fs::exists(path) ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_FALSE(fs::exists(path));
}

} // namespace
