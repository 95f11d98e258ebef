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
#      heals the game through the full archive.
# nginx is stopped and the scratch directory removed on every exit
# (VARN_DEMO_KEEP=1 keeps the directory to look at).
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
NGINX_PID=""
cleanup() {
  if [ -n "$NGINX_PID" ]; then
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
  fi
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
PORT=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$WORK/nginx/tmp"
USER_LINE=""
[ "$(id -u)" -eq 0 ] && USER_LINE="user root;"
cat >"$WORK/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
$USER_LINE
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/error.log warn;
events { worker_connections 64; }
http {
  default_type application/octet-stream;
  access_log $WORK/nginx/access.log;
  client_body_temp_path $WORK/nginx/tmp/body;
  proxy_temp_path $WORK/nginx/tmp/proxy;
  fastcgi_temp_path $WORK/nginx/tmp/fastcgi;
  uwsgi_temp_path $WORK/nginx/tmp/uwsgi;
  scgi_temp_path $WORK/nginx/tmp/scgi;
  server { listen 127.0.0.1:$PORT; root $WORK/root; }
}
EOF
/usr/sbin/nginx -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" -e "$WORK/nginx/error.log" &
NGINX_PID=$!
for _ in $(seq 50); do
  curl -sf -o /dev/null "http://127.0.0.1:$PORT/patch/update.uvf" && break
  sleep 0.1
done
curl -sf -o /dev/null "http://127.0.0.1:$PORT/patch/update.uvf" || {
  echo "demo: nginx did not start"; cat "$WORK/nginx/error.log"; exit 1; }
echo "patch root: http://127.0.0.1:$PORT/patch"

say "install version 1.0.0.1 with varn-patch beside it"
GAME=$WORK/game
"$PUBLISH" install --version 1.0.0.1 --update-name Varn "$WORK/versions/1.0.0.1" "$GAME"
cmake --install "$BUILD" --prefix "$GAME" >/dev/null
printf '[PATH]\nPatchRoot=http://127.0.0.1:%s/patch\n' "$PORT" >"$GAME/version.ini"
ls -l "$GAME"

# The game directory matches a published version exactly (every file of it).
same_as() {  # version
  local v=$1 f
  for f in $(cd "$WORK/versions/$v" && find . -type f | sort); do
    cmp -s "$WORK/versions/$v/$f" "$GAME/$f" || return 1
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
echo
echo "demo: done"
