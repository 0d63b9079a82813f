#!/usr/bin/env bash
# Fuzzes velvox-service's request parsing with clang's libFuzzer for a bounded
# time (seconds, default 30), starting from a few requests of each shape the
# service takes and from what earlier runs on this machine found. A crash
# leaves its input in build/fuzz and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
out=build/fuzz
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -Iservice -Isrc tests/fuzz/RequestFuzz.cpp service/HttpMessage.cpp src/services/Url.cpp \
  -o "$out/request_fuzz"

seed() { printf '%b' "$2" >"$out/corpus/seed-$1"; }
seed get 'GET /v1/auth/verify?code=a%2Bb+c&x=1 HTTP/1.1\r\nHost: x\r\n\r\n'
seed form 'POST /v1/auth/verify HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 8\r\n\r\ncode=abc'
seed chunks 'POST /v1/transcribe HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nm4a\r\n0\r\n\r\n'
seed parts 'POST /v1/transcribe HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: 68\r\n\r\n--b\r\nContent-Disposition: form-data; name="file"\r\n\r\nm4a\r\n--b--\r\n'
seed forwarded 'GET /v1/me HTTP/1.1\r\nX-Forwarded-For: 1.2.3.4, 5.6.7.8\r\nX-Forwarded-For: 9.9.9.9\r\n\r\n'

cd "$out"
./request_fuzz -max_total_time="$seconds" -max_len=16384 -timeout=5 -print_final_stats=1 corpus \
  2>fuzz.log || { tail -n 40 fuzz.log; echo "fuzz: a crash; its input is in $out" >&2; exit 1; }
grep -E '^stat::number_of_executed_units|^Done' fuzz.log || true
