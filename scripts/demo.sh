#!/usr/bin/env bash
# The main job, end to end on this machine:
#   1. installs the Debian packages that are missing and builds;
#   2. publishes a sample game in three versions with varn-publish;
#   3. serves the patch root with nginx on 127.0.0.1 (a free port);
#   4. installs version 1 into a fresh game directory, with the installed
#      set of the build (varn-patch, the core library, the language bundle)
#      beside it, as `cmake --install` lays it out;
#   5. runs varn-patch there and shows the game now at the latest version;
#   6. runs it again: nothing is to be done;
#   7. removes the installation record and damages a file: the next run
#      heals the game through the full archive;
#   8. publishes a fourth version with a large new data file and runs the
#      launcher window, varn-launcher, on a fresh installation against the
#      same patch root, served slowly so that its progress can be watched;
#      its notice page (scripts/demo/notice.html) comes from the same
#      server. Without a display it runs on a private virtual one (Xvfb) and
#      the screenshots at start, with the notice page, during the update and
#      at "update complete" are kept in /tmp/varn-demo-shots/; with a
#      display the window simply shows until it is closed.
# nginx (and Xvfb) are stopped and the scratch directory removed on every
# exit (VARN_DEMO_KEEP=1 keeps the directory to look at).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$ROOT/build/demo

say() { printf '\n== %s\n' "$*"; }

say "dependencies and build"
bash scripts/setup-deps.sh
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARN_TESTS=OFF -DVARN_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
PUBLISH=$BUILD/bin/varn-publish

WORK=$(mktemp -d /tmp/varn-demo-XXXXXX)
PIDS=()
cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ "${VARN_DEMO_KEEP:-0}" = 1 ]; then
    echo "demo: kept $WORK"
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "a sample game in three versions"
# Version N: the game program and settings change every time, a large data
# file changes in version 2, each later version adds a map.
make_version() {  # number
  local n=$1 dir=$WORK/versions/1.0.0.$1
  mkdir -p "$dir/Data/Map"
  printf 'Varn game program, build %s\n' "$n" >"$dir/Varngame.exe"
  printf '[GAME]\nBuild=%s\n' "$n" >"$dir/settings.ini"
  cp "$WORK/common.dat" "$dir/Data/common.dat"
  local seed=1; [ "$n" -ge 2 ] && seed=2
  # (yes through a process substitution: its SIGPIPE must not fail the script)
  head -c 300000 < <(yes "big data block of generation $seed") >"$dir/Data/big.bin"
  for ((k = 2; k <= n; k++)); do
    printf 'map %s\n' "$k" >"$dir/Data/Map/level$k.map"
  done
}
# Data that never changes makes the full archive bigger than the chain of
# incremental ones, as in a real game, so the first run takes the chain.
head -c 200000 /dev/urandom >"$WORK/common.dat"
for n in 1 2 3; do make_version "$n"; done
find "$WORK/versions" -type f | sed "s|$WORK/versions/||" | sort

say "publish with varn-publish"
"$PUBLISH" --out "$WORK/root/patch" --update-name Varn --launcher-version 1.0.6.1 \
  "1.0.0.1:$WORK/versions/1.0.0.1" "1.0.0.2:$WORK/versions/1.0.0.2" \
  "1.0.0.3:$WORK/versions/1.0.0.3"
ls -l "$WORK/root/patch"

say "serve the patch root on 127.0.0.1"
free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
# serve NAME PORT [DIRECTIVES]: nginx serving $WORK/root on 127.0.0.1:PORT.
serve() {
  local port=$2 extra=${3:-} dir=$WORK/$1
  mkdir -p "$dir/tmp"
  local user_line=""
  [ "$(id -u)" -eq 0 ] && user_line="user root;"
  cat >"$dir/nginx.conf" <<EOF
daemon off;
worker_processes 1;
$user_line
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 64; }
http {
  default_type application/octet-stream;
  access_log $dir/access.log;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  server { listen 127.0.0.1:$port; root $WORK/root; $extra }
}
EOF
  /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" &
  PIDS+=($!)
  for _ in $(seq 50); do
    curl -sf -o /dev/null "http://127.0.0.1:$port/patch/update.uvf" && return 0
    sleep 0.1
  done
  echo "demo: nginx did not start"; cat "$dir/error.log"; exit 1
}
PORT=$(free_port)
# The launcher's notice page, where the live service keeps it.
mkdir -p "$WORK/root/launcher"
cp "$ROOT/scripts/demo/notice.html" "$WORK/root/launcher/notice.html"
serve nginx "$PORT"
echo "patch root: http://127.0.0.1:$PORT/patch"

say "install version 1.0.0.1 with varn-patch beside it"
GAME=$WORK/game
"$PUBLISH" install --version 1.0.0.1 --update-name Varn "$WORK/versions/1.0.0.1" "$GAME"
cmake --install "$BUILD" --prefix "$GAME" >/dev/null
printf '[PATH]\nPatchRoot=http://127.0.0.1:%s/patch\n' "$PORT" >"$GAME/version.ini"
ls -l "$GAME"

# The game directory matches a published version exactly (every file of it).
same_as() {  # version [game directory]
  local v=$1 game=${2:-$GAME} f
  for f in $(cd "$WORK/versions/$v" && find . -type f | sort); do
    cmp -s "$WORK/versions/$v/$f" "$game/$f" || return 1
  done
}
show_version() {
  local v
  for v in 1.0.0.3 1.0.0.2 1.0.0.1; do
    if same_as "$v"; then echo "game directory: files of version $v"; return; fi
  done
  echo "game directory: matches no published version"
}
show_version

say "run varn-patch"
"$GAME/varn-patch"
show_version
same_as 1.0.0.3 || { echo "demo: the game did not reach 1.0.0.3"; exit 1; }

say "run varn-patch again"
"$GAME/varn-patch"
show_version

say "lose the installation record and damage a file; varn-patch heals the game"
rm "$GAME/Update/version.uvf"
printf 'damaged\n' >"$GAME/Varngame.exe"
show_version
"$GAME/varn-patch"
show_version
same_as 1.0.0.3 || { echo "demo: the full archive did not heal the game"; exit 1; }

say "the launcher window: a fourth version with a large new data file"
make_version 4
head -c 3000000 /dev/urandom >"$WORK/versions/1.0.0.4/Data/Map/terrain4.pak"
"$PUBLISH" --out "$WORK/root/patch" --update-name Varn --launcher-version 1.0.6.1 \
  "1.0.0.1:$WORK/versions/1.0.0.1" "1.0.0.2:$WORK/versions/1.0.0.2" \
  "1.0.0.3:$WORK/versions/1.0.0.3" "1.0.0.4:$WORK/versions/1.0.0.4" >/dev/null
ls -l "$WORK/root/patch"
# The same patch root, sent at 512 KB/s so that the window's progress can
# be watched.
SLOW_PORT=$(free_port)
serve nginx-slow "$SLOW_PORT" "limit_rate 512k;"
echo "patch root (slow): http://127.0.0.1:$SLOW_PORT/patch"

say "install version 1.0.0.1 with varn-launcher beside it"
WINGAME=$WORK/game-window
"$PUBLISH" install --version 1.0.0.1 --update-name Varn "$WORK/versions/1.0.0.1" "$WINGAME"
cmake --install "$BUILD" --prefix "$WINGAME" >/dev/null
printf '[PATH]\nPatchRoot=http://127.0.0.1:%s/patch\n' "$SLOW_PORT" >"$WINGAME/version.ini"
: >"$WINGAME/LauncherLog.log"  # with -savelog: the window's log lines
# The launcher type file names the notice page (served at full speed);
# type.uvf is stored scrambled with the version files' 10-byte key.
NOTICE=http://127.0.0.1:$PORT/launcher/notice.html
printf '[SETUP]\nSAVELOG=1\nNOTICEURL=%s\n' "$NOTICE" | /usr/bin/python3 -c '
import sys
key = bytes([0x3C, 0x91, 0x5E, 0xD0, 0x0A, 0x7B, 0xE2, 0x46, 0x19, 0xC5])
data = sys.stdin.buffer.read()
sys.stdout.buffer.write(bytes(b ^ key[i % 10] for i, b in enumerate(data)))
' >"$WINGAME/Update/type.uvf"
echo "notice page: $NOTICE"
# The first run registers the game in the registry store; the demo keeps
# that store (and the desktop it would tidy) in its scratch directory.
export VARN_REGISTRY_DIR=$WORK/registry XDG_DESKTOP_DIR=$WORK/desktop

if [ -n "${DISPLAY:-}" ]; then
  say "run varn-launcher (close its window to end the demo)"
  "$WINGAME/varn-launcher" -savelog
else
  say "run varn-launcher on a virtual display"
  SHOTS=/tmp/varn-demo-shots
  rm -rf "$SHOTS"
  mkdir -p "$SHOTS"
  # Xvfb picks a free display and writes its number once it accepts
  # connections.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/xvfb.display" 2>/dev/null &
  PIDS+=($!)
  for _ in $(seq 100); do
    grep -q . "$WORK/xvfb.display" 2>/dev/null && break
    sleep 0.1
  done
  export DISPLAY=":$(head -n1 "$WORK/xvfb.display")" GDK_BACKEND=x11 NO_AT_BRIDGE=1 \
    GSETTINGS_BACKEND=memory
  "$WINGAME/varn-launcher" -savelog &
  LAUNCHER=$!
  PIDS+=("$LAUNCHER")
  TITLE="Kestrel Beta 1.0.6.1"
  # origin X Y: the window's top-left corner on the screen, once it shows.
  origin() {
    xwininfo -name "$TITLE" 2>/dev/null |
      awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {if (x != "") print x, y}'
  }
  shot() {  # file
    import -silent -window root "$1"
  }
  # rgb IMAGE X Y: the pixel's "r,g,b".
  rgb() {
    convert "$1" -format "%[fx:round(255*p{$2,$3}.r)],%[fx:round(255*p{$2,$3}.g)],%[fx:round(255*p{$2,$3}.b)]" info:
  }
  # wait_for_bar NAME BAR_Y BAR_BITMAP X: screenshots until column X of the
  # bar at client row BAR_Y shows the bitmap's filled look; keeps the last
  # one as NAME.
  wait_for_bar() {
    local name=$1 y=$2 bitmap=$3 x=$4 want got
    want=$(rgb "$WINGAME/skin/$bitmap.png" "$x" 3)
    for _ in $(seq 300); do
      shot "$SHOTS/$name.png"
      got=$(rgb "$SHOTS/$name.png" $((WX + 121 + x)) $((WY + y + 3)))
      [ "$got" = "$want" ] && return 0
      kill -0 "$LAUNCHER" 2>/dev/null || { echo "demo: the launcher ended early"; exit 1; }
      sleep 0.1
    done
    echo "demo: the window did not reach '$name'"; exit 1
  }
  # wait_for_notice NAME: screenshots until the browser area (from client
  # row 35) shows the notice page: its header's bottom line, page row 44.
  wait_for_notice() {
    local name=$1 got
    for _ in $(seq 300); do
      shot "$SHOTS/$name.png"
      got=$(rgb "$SHOTS/$name.png" $((WX + 400)) $((WY + 35 + 44)))
      [ "$got" = "58,104,184" ] && return 0
      kill -0 "$LAUNCHER" 2>/dev/null || { echo "demo: the launcher ended early"; exit 1; }
      sleep 0.1
    done
    echo "demo: the notice page did not show"; exit 1
  }
  for _ in $(seq 100); do
    read -r WX WY < <(origin; echo) && [ -n "${WX:-}" ] && break
    sleep 0.1
  done
  [ -n "${WX:-}" ] || { echo "demo: the launcher window did not show"; exit 1; }
  shot "$SHOTS/1-start.png"
  wait_for_notice 2-notice
  # During: a fifth of the whole update received (the big archive).
  wait_for_bar 3-during 475 bar_total 60
  # Complete: the total bar full to its end.
  wait_for_bar 4-complete 475 bar_total 300
  same_as 1.0.0.4 "$WINGAME" || { echo "demo: the window did not bring the game to 1.0.0.4"; exit 1; }
  echo "game directory of the window: files of version 1.0.0.4"
  echo "registered on first run:"
  sed 's/^/  /' "$VARN_REGISTRY_DIR/software/pellor/quorim/varnonline.ini"
  # The session's end closes the launcher the way its close button does.
  kill -TERM "$LAUNCHER"
  wait "$LAUNCHER" && echo "varn-launcher: closed"
  grep -a -h -m1 "URL : " "$WINGAME"/Update/Log/*.txt
  echo "screenshots (kept): $SHOTS/1-start.png $SHOTS/2-notice.png $SHOTS/3-during.png" \
    "$SHOTS/4-complete.png"
fi
echo
echo "demo: done"
