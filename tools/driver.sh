#!/bin/bash
# The driver for real, in the foreground, built from this tree, with a working folder
# (build/run) seeded from the shipped settings and catalogues. Ctrl-C stops it.
# The calibration application (build/app/Orient.app) and the settings client
# (build/tools/skrib-settings) are built with it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target SkribZIW skrib-orient skrib-settings catalogues
mkdir -p build/run
[ -e build/run/Config/config.xml ] || cp -r build/stage/Config build/run/
rm -rf build/run/LANG && cp -r build/stage/LANG build/run/
echo "SkribZIW: working folder $(pwd)/build/run; Ctrl-C stops it"
exec build/app/SkribZIW --workdir "$(pwd)/build/run" --lockdir "$(pwd)/build/run" "$@"
