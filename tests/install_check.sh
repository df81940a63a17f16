#!/bin/sh
# install_check.sh BUILD_DIR SOURCE_DIR WORK_DIR: installs the build into WORK_DIR/prefix and
# runs an example program from the installed runner, with no data directory in the
# environment, so that the runner must find its catalogues beside itself.
set -eu
build="$1"; src="$2"; work="$3"
rm -rf "$work"; mkdir -p "$work/run/examples"
cmake --install "$build" --prefix "$work/prefix" > "$work/install.log"
# A title changed in the installed catalogue shows that the runner reads the installed tree,
# not the source tree the build recorded.
tpl="$work/prefix/share/qrx/templates/Stat.VARSIFTER.ParameterEstimates.tpl"
sed -i '1s/^title Parameter Estimates$/title Installed Parameter Estimates/' "$tpl"
cp "$src/examples/diabetes.qrx" "$src/examples/diabetes.csv" "$work/run/examples/"
cd "$work/run"
env -u QRX_MESSAGE_DIR -u QRX_TEMPLATE_DIR -u QRX_WEB_DIR \
  "$work/prefix/bin/qrx" --work . --listing listing.txt examples/diabetes.qrx > stdout.txt 2>&1
grep -q "Installed Parameter Estimates" listing.txt
