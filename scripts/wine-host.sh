# Sourced by the scripts that build and run Framelatch under Wine, from the
# repository's top folder: installs what is missing, then sets `arch` and `why`
# (the Wine architecture this host runs, and why), `preset` (the build of
# that architecture) and `platform` (the Wine and Debian they run on).
./scripts/install-deps.sh
host=$(tests/wine/session.sh host-arch)
read -r arch why <<<"$host"
if [ "$arch" = win32 ]; then preset=windows; else preset=windows64; fi
# What the builds run on, as "Wine 8.0 (Debian 12)".
wine_version=$("$(tests/wine/session.sh loader win64)" --version 2>/dev/null) || wine_version=unknown
wine_version=${wine_version%% *}
platform="Wine ${wine_version#wine-} (Debian $(cut -d. -f1 /etc/debian_version))"
