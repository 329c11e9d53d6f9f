#!/bin/sh
# install_and_consume.sh BUILD SOURCE CC CXX
set -eu
build=$1 source=$2 cc=$3 cxx=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/vmk40xx-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
unset LD_LIBRARY_PATH VMK40XX_LIBRARY PYTHONPATH || true
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" > "$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }

libdir=$(dirname "$(find "$prefix" -name 'libvmk40xx.so.1' | head -1)")
[ -n "$libdir" ] || fail "no libvmk40xx.so.1 under the prefix"
for f in "$libdir/libvmk40xx.so" "$libdir/pkgconfig/vmk40xx.pc" \
         "$libdir/cmake/vmk40xx/vmk40xxConfig.cmake" "$libdir/cmake/vmk40xx/vmk40xxConfigVersion.cmake" \
         "$prefix/include/vmk40xx/vmk40xx_c.h" "$prefix/include/vmk40xx/vmk40xx_attributes.def" \
         "$prefix/include/vmk40xx/config_store.h" "$prefix/bin/vmk40xx" "$prefix/bin/vmk40xx-sim" \
         "$prefix/bin/vmk40xx-regsvr" "$prefix/share/man/man1/vmk40xx.1" \
         "$prefix/share/man/man1/vmk40xx-sim.1" \
         "$prefix/share/ivi/Components/Velmora Technologies/trace.xslt" \
         "$libdir/python3/dist-packages/vmk40xx/py.typed" \
         "$libdir/python3/dist-packages/vmk40xx/_attributes.py"; do
  [ -e "$f" ] || fail "not installed: $f"
done
readelf -d "$libdir/libvmk40xx.so.1" | grep -q 'SONAME.*\[libvmk40xx.so.1\]' || fail "soname"
# A consumer's build does not inherit the project's -Werror.
if grep -rq -- '-Werror' "$libdir/cmake/vmk40xx" "$libdir/pkgconfig/vmk40xx.pc"; then
  fail "the package hands -Werror to consumers"
fi
# The .pc file names the prefix it was installed into, not the configured one.
grep -q "^libdir=$libdir\$" "$libdir/pkgconfig/vmk40xx.pc" || fail "libdir of vmk40xx.pc"

# Programs outside the tree. Copies, so that nothing of the source tree's include path leaks in.
mkdir -p "$work/src/c" "$work/src/cpp" "$work/src/cmake"
cp "$source/examples/c/set_output.c" "$work/src/c/"
cp "$source/examples/cpp/set_output.cpp" "$work/src/cpp/"
cp "$source/examples/cmake/CMakeLists.txt" "$work/src/cmake/"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs vmk40xx)
"$cc" -std=c11 -Wall -Wextra -pedantic -o "$work/c_prog" "$work/src/c/set_output.c" $flags
"$cxx" -std=c++20 -Wall -Wextra -o "$work/cpp_prog" "$work/src/cpp/set_output.cpp" $flags
cmake -S "$work/src/cmake" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" > "$work/consumer.log" 2>&1 ||
  { cat "$work/consumer.log"; fail "find_package(vmk40xx)"; }
cmake --build "$work/consumer" > "$work/consumer-build.log" 2>&1 ||
  { cat "$work/consumer-build.log"; fail "building against the CMake package"; }

# The emulator from the prefix, for the programs to talk to.
"$prefix/bin/vmk40xx-sim" --model K4201A --listen 127.0.0.1:0 --load 2=50 > "$work/port" 2>/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
resource="TCPIP0::127.0.0.1::$(head -1 "$work/port")::SOCKET"

for p in "$work/c_prog" "$work/cpp_prog" "$work/consumer/set_output_c" "$work/consumer/set_output_cpp"; do
  out=$(env -u LD_LIBRARY_PATH "$p" "$resource") || fail "$p against the emulator"
  [ "$out" = "Output2: 5.000 V, 0.100 A" ] || fail "$p printed: $out"
  out=$(env -u LD_LIBRARY_PATH "$p") || fail "$p in simulation"
done

# The installed tool, and the installed Python package, find the installed library.
out=$(env -u LD_LIBRARY_PATH "$prefix/bin/vmk40xx" -r "$resource" identify --json)
echo "$out" | grep -q '"model": "K4201A"' || fail "installed vmk40xx: $out"
pypath=$libdir/python3/dist-packages
grep -q "$libdir/libvmk40xx.so.1" "$pypath/vmk40xx/_paths.py" || fail "_paths.py"
for py in /usr/bin/python3 python3; do
  if command -v "$py" > /dev/null; then
    out=$(cd "$work" && env -u LD_LIBRARY_PATH PYTHONPATH="$pypath" "$py" \
          "$source/examples/python/lab_script.py" "$resource") || fail "installed Python package"
    echo "$out" | grep -q "^Output2: 5.000 V$" || fail "lab script printed: $out"
    break
  fi
done
echo "installed into $prefix and used from there: ok"
