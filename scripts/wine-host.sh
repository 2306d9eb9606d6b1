# Sourced by the scripts that build and run Framelatch under Wine, from the
# repository's top folder: installs what is missing, then sets `arch` and `why`
# (the Wine architecture this host runs, and why) and `preset` (the build of
# that architecture).
./scripts/install-deps.sh
host=$(tests/wine/session.sh host-arch)
read -r arch why <<<"$host"
if [ "$arch" = win32 ]; then preset=windows; else preset=windows64; fi
