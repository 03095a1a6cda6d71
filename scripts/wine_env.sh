# Sourced: the environment of a throwaway Wine prefix under the build tree.
# Usage: . scripts/wine_env.sh <folder>   (the prefix lives in <folder>/prefix)
wine_home="$(mkdir -p "$1" && cd "$1" && pwd)"
export WINEPREFIX="$wine_home/prefix"
# The prefix's Desktop and Documents link into $HOME.
export HOME="$wine_home"
# Otherwise every saved shortcut also writes Linux menu entries.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
export WINEDEBUG=-all
export WINE=/usr/lib/wine/wine64
