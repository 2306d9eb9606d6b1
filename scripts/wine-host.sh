# Sourced by the scripts that build and run Framelatch under Wine, from the
# repository's top folder: installs what is missing, then sets `arch` and `why`
# (the Wine architecture this host runs, and why), `preset` (the build of that
# architecture), and `wow64` and `wow64_why` (whether Wine's WoW64 mode runs
# the 32-bit build here, and why not).
./scripts/install-deps.sh
host=$(tests/wine/wine-host.sh host-arch)
read -r arch why <<<"$host"
if [ "$arch" = win32 ]; then preset=windows; else preset=windows64; fi
echo "Checking for Wine's WoW64 mode (made once, of the system's own Wine)"
wow64=
if wow64_why=$(tests/wine/wine-host.sh wow64 2>&1 >/dev/null); then
    wow64=yes
fi
wow64_why=${wow64_why#session: }
