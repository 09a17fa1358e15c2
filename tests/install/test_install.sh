#!/usr/bin/env bash
# Installs the build into a scratch prefix and makes the Debian package from
# it; checks the installed layout, the desktop entry and metainfo, the
# package's declared dependencies, and starts both the installed and the
# unpacked client with --version and --help.
#   test_install.sh <build folder>
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A private configuration folder: the informational options must write nothing.
export XDG_CONFIG_HOME=$scratch/config HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/runtime
mkdir -p "$XDG_CONFIG_HOME" "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen

check_client() {
  local client=$1 out
  out=$("$client" --version) || fail "$client --version exited with $?"
  [ "$out" = "Sonvira desktop client v0.9.9.6" ] || fail "$client --version printed '$out'"
  out=$("$client" --help) || fail "$client --help exited with $?"
  grep -q -- "--version" <<<"$out" || fail "$client --help does not list --version: $out"
  out=$(timeout 20 "$client" --help-all) || fail "$client --help-all exited with $?"
  grep -q -- "--qmljsdebugger" <<<"$out" || fail "$client --help-all does not list the framework's options: $out"
  [ -z "$(ls -A "$XDG_CONFIG_HOME")" ] || fail "$client wrote into the configuration folder"
}

# --- cmake --install ---
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/sonvira-desktop bin/sonvira-headless bin/sonvira-loudness bin/sonvira-service \
         lib/systemd/user/sonvira-headless.service \
         libexec/sonvira/deepfilternet/deepfilternet libexec/sonvira/deepfilternet/model/denoise.params \
         share/applications/example.sonvira.Desktop.desktop share/metainfo/example.sonvira.Desktop.metainfo.xml; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
for size in 16 22 24 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/sonvira-desktop.png
  [ "$(identify -format '%wx%h' "$icon")" = "${size}x${size}" ] || fail "icon $icon is not ${size}x${size}"
done
desktop-file-validate "$prefix/share/applications/example.sonvira.Desktop.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/example.sonvira.Desktop.metainfo.xml" >/dev/null \
  || fail "appstreamcli rejects the metainfo"
check_client "$prefix/bin/sonvira-desktop"
out=$("$prefix/bin/sonvira-headless" --version) || fail "sonvira-headless --version exited with $?"
[ "$out" = "Sonvira headless client v0.9.9.6" ] || fail "sonvira-headless --version printed '$out'"
"$prefix/bin/sonvira-headless" --help | grep -q -- "--login" || fail "sonvira-headless --help does not list --login"
timeout 20 "$prefix/bin/sonvira-headless" --help-all | grep -q -- "--login" || fail "sonvira-headless --help-all did not print and end"
if ldd "$prefix/bin/sonvira-headless" | grep -E "libQt6(Gui|Widgets)"; then
  fail "sonvira-headless links a graphical Qt library"
fi
"$prefix/bin/sonvira-loudness" --help >/dev/null 2>&1 || true
unit=$prefix/lib/systemd/user/sonvira-headless.service
grep -qx "ExecStart=$prefix/bin/sonvira-headless" "$unit" || fail "the unit does not start the installed program: $(grep ExecStart "$unit")"
if command -v systemd-analyze >/dev/null 2>&1; then
  report=$(systemd-analyze --user verify "$unit" 2>&1) || fail "systemd-analyze rejects the unit: $report"
  [ -z "$report" ] || fail "systemd-analyze warns about the unit: $report"
fi

# --- the .deb ---
(cd "$build" && cpack --config CPackConfig.cmake -B "$scratch/package" >/dev/null)
deb=$(ls "$scratch"/package/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6core6 libqt6widgets6 libqt6network6 libsndfile1 qt6-qpa-plugins; do
  grep -q "$needed" <<<"$depends" || fail "package does not depend on $needed: $depends"
done
dpkg-deb -x "$deb" "$scratch/unpacked"
[ -x "$scratch/unpacked/usr/libexec/sonvira/deepfilternet/deepfilternet" ] || fail "package lacks the denoise program"
check_client "$scratch/unpacked/usr/bin/sonvira-desktop"
[ -x "$scratch/unpacked/usr/bin/sonvira-headless" ] || fail "package lacks sonvira-headless"
grep -qx "ExecStart=/usr/bin/sonvira-headless" "$scratch/unpacked/usr/lib/systemd/user/sonvira-headless.service" \
  || fail "the package's systemd user unit does not start /usr/bin/sonvira-headless"
echo "install and package OK"
