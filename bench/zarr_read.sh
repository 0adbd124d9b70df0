#!/usr/bin/env bash
# Reading a store's level against reading the same samples uncompressed, in
# one run: a 512^3 uint16 level of 128^3 blosc-lz4 chunks, the same samples
# as a raw NRRD, and the store served by nginx on a loopback port. Each line
# is the best of RUNS runs of tamlo-convert (read, map, write the volume
# file; the same work but for the reader) and its peak memory; the ratios
# follow. Warm: every file is read once first.
#   bench/zarr_read.sh [BUILD [RUNS [EDGE]]]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
edge=${3:-512}
convert="$build/tools/convert/tamlo-convert"
work=$(mktemp -d)
nginx_pid=
trap '[ -n "$nginx_pid" ] && kill "$nginx_pid"; rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" "$edge" <<'PY'
import sys, numpy, zarr
from numcodecs import Blosc
work, n = sys.argv[1], int(sys.argv[2])
z, y, x = numpy.ogrid[:n, :n, :n]
# A smooth field with noise, as a scan's values are: blosc-lz4 packs it to
# about half.
rng = numpy.random.default_rng(1)
data = ((x * 7 + y * 5 + z * 3) % 2000 + rng.integers(0, 64, (n, n, n))).astype("<u2")
data.tofile(f"{work}/raw.raw")
with open(f"{work}/raw.nhdr", "w") as f:
    f.write(f"NRRD0004\ntype: uint16\ndimension: 3\nsizes: {n} {n} {n}\nencoding: raw\nendian: little\n"
            "data file: raw.raw\n")
root = zarr.open_group(f"{work}/www/store.zarr", mode="w")
root.create_dataset("0", data=data, chunks=(128, 128, 128), compressor=Blosc(cname="lz4", shuffle=Blosc.SHUFFLE))
root.attrs["multiscales"] = [{"version": "0.4", "axes": [{"name": a, "type": "space"} for a in "zyx"],
                              "datasets": [{"path": "0"}]}]
PY
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/temp"
cat > "$work/nginx.conf" <<CONF
daemon off; master_process off; worker_processes 1; pid $work/nginx.pid; error_log $work/error.log;
events {}
http {
  access_log off; default_type application/octet-stream; sendfile on;
  client_body_temp_path $work/temp; proxy_temp_path $work/temp; fastcgi_temp_path $work/temp;
  uwsgi_temp_path $work/temp; scgi_temp_path $work/temp;
  server { listen 127.0.0.1:$port; root $work/www; keepalive_requests 100000; }
}
CONF
/usr/sbin/nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!
sleep 0.5

cat "$work/raw.raw" "$work"/www/store.zarr/0/* > /dev/null
echo "store: $(du -sb "$work/www/store.zarr" | cut -f1) bytes for $((edge * edge * edge * 2)) of samples"
best() {  # the best wall time of $runs and the largest peak memory, of tamlo-convert INPUT
    local best_s= peak=0
    for _ in $(seq "$runs"); do
        /usr/bin/time -f '%e %M' -o "$work/time" "$convert" --values full "$1" "$work/out.vol" > /dev/null
        read -r seconds kb < "$work/time"
        if [ -z "$best_s" ] || awk "BEGIN{exit !($seconds < $best_s)}"; then best_s=$seconds; fi
        [ "$kb" -gt "$peak" ] && peak=$kb
    done
    echo "$best_s $peak"
}
read -r raw raw_kb < <(best "$work/raw.nhdr")
read -r local local_kb < <(best "$work/www/store.zarr")
read -r http http_kb < <(best "http://127.0.0.1:$port/store.zarr")
printf 'raw NRRD:          %6.2f s, peak %5d MiB\n' "$raw" $((raw_kb / 1024))
printf 'store on disk:     %6.2f s, peak %5d MiB\n' "$local" $((local_kb / 1024))
printf 'store over HTTP:   %6.2f s, peak %5d MiB\n' "$http" $((http_kb / 1024))
awk -v r="$raw" -v l="$local" -v h="$http" \
    'BEGIN { printf "store / raw: %.2fx (target at most 1.5x); HTTP / disk: %.2fx (target at most 2x)\n", l / r, h / l }'
