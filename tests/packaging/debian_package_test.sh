#!/usr/bin/env bash
# debian_package_test.sh BUILD_DIR: builds the Debian package with CPack into
# a scratch folder, extracts it into a scratch root with dpkg -x and checks
# what it installs and what it depends on; then installs with
# `cmake --install --prefix` into another scratch folder and checks that the
# units name the programs where they were put.
set -uo pipefail
build=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/dl-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0
checks=0

check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  checks=$((checks + 1))
  if "$@" >/dev/null 2>&1; then
    echo "ok: $what"
  else
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
}

has_line() { grep -qxF -- "$2" "$1"; }

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack could not build the package"
  exit 1
fi
debs=("$scratch"/out/docklane_*_amd64.deb "$scratch"/out/docklane_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || { ls -l "$scratch/out"; echo "FAIL: no docklane .deb"; exit 1; }
echo "package: $(basename "$deb")"

root=$scratch/root
dpkg -x "$deb" "$root"

# --- Contents ----------------------------------------------------------------
for path in usr/bin/docklane usr/bin/docwarden; do
  check "$path is an executable" test -x "$root/$path"
done
for path in usr/lib/systemd/user/docklane.service usr/lib/systemd/user/docwarden.service \
            etc/xdg/autostart/docklane-autostart.desktop; do
  check "$path is installed" test -s "$root/$path"
done
dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./||; /\/$/d' | sort >"$scratch/files"
printf '%s\n' etc/xdg/autostart/docklane-autostart.desktop usr/bin/docklane usr/bin/docwarden \
  usr/lib/systemd/user/docklane.service usr/lib/systemd/user/docwarden.service >"$scratch/expected"
check "the package holds these five files and nothing else" cmp -s "$scratch/files" "$scratch/expected"

units=$root/usr/lib/systemd/user
check "docklane.service starts /usr/bin/docklane" has_line "$units/docklane.service" "ExecStart=/usr/bin/docklane"
check "docwarden.service starts /usr/bin/docwarden" has_line "$units/docwarden.service" "ExecStart=/usr/bin/docwarden"
check "docwarden.service reports readiness" has_line "$units/docwarden.service" "Type=notify"
check "no unit names a home folder" bash -c "! grep -q '%h' '$units/docklane.service' '$units/docwarden.service'"
entry=$root/etc/xdg/autostart/docklane-autostart.desktop
check "the autostart entry is an application" has_line "$entry" "Type=Application"
check "the autostart entry starts both services" \
  grep -q '^Exec=.*systemctl --user .*docklane.service docwarden.service' "$entry"
check "the autostart entry hands the services the display" grep -q 'import-environment DISPLAY' "$entry"

# The programs as extracted find every library they link.
for program in docklane docwarden; do
  check "$program finds its libraries" bash -c "! ldd '$root/usr/bin/$program' | grep -q 'not found'"
done
check "docklane's run path names no build folder" \
  bash -c "readelf -d '$root/usr/bin/docklane' | grep -E 'RUNPATH|RPATH' | grep -qv -e sdk -e '$build'"

# --- Control data ------------------------------------------------------------
dpkg-deb --info "$deb" >"$scratch/info"
depends=$(sed -n 's/^ Depends: //p' "$scratch/info")
echo "Depends: $depends"
for need in libreoffice-writer libreoffice-calc libreoffice-impress zenity "fonts-nanum | fonts-noto-cjk" \
            libjsoncpp25 libfontconfig1 libx11-6; do
  check "Depends lists $need" grep -qF -- "$need" <<<"$depends"
done
check "the autostart entry is a conffile" \
  bash -c "dpkg-deb --ctrl-tarfile '$deb' | tar -xO ./conffiles | grep -qx /etc/xdg/autostart/docklane-autostart.desktop"

# --- cmake --install --------------------------------------------------------
# prefix | units folder | autostart folder, below the scratch folder, whose
# "home" is the HOME of the install.
while IFS='|' read -r prefix units autostart; do
  if HOME=$scratch/home cmake --install "$build" --prefix "$scratch/$prefix" >"$scratch/install.log" 2>&1; then
    check "--prefix $prefix: the programs in $prefix/bin" \
      test -x "$scratch/$prefix/bin/docklane" -a -x "$scratch/$prefix/bin/docwarden"
    for unit in docklane docwarden; do
      check "--prefix $prefix: $units/$unit.service starts $prefix/bin/$unit" \
        has_line "$scratch/$units/$unit.service" "ExecStart=$scratch/$prefix/bin/$unit"
    done
    check "--prefix $prefix: the autostart entry in $autostart" \
      test -s "$scratch/$autostart/docklane-autostart.desktop"
  else
    cat "$scratch/install.log"
    echo "FAIL: cmake --install --prefix $prefix"
    failures=$((failures + 1))
  fi
done <<'PREFIXES'
opt/docklane|opt/docklane/share/systemd/user|opt/docklane/etc/xdg/autostart
home/.local|home/.local/share/systemd/user|home/.config/autostart
PREFIXES

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
