#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang++ into build-fuzz/ and runs each for the given
# number of seconds (default 60). The normal build never needs clang; only this script does.
#   scripts/fuzz.sh [seconds] [target...]     e.g. scripts/fuzz.sh 300 cookie_fuzz
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/build-fuzz"
seconds="${1:-60}"
shift || true
cxx="${CXX_FUZZ:-clang++}"

# The configuration store and what it stands on, shared by the targets that load documents.
store_sources="config/store.cpp config/target_mix.cpp config/text_check.cpp config/core_lock.cpp config/normalise.cpp config/document.cpp config/json.cpp config/legacy_read.cpp config/legacy_write.cpp config/login_password.cpp config/standby_sources.cpp platform/atomic_file.cpp platform/file_io.cpp platform/host.cpp vocabulary/codecs.cpp vocabulary/formats.cpp vocabulary/utf8.cpp vocabulary/input_switch_report.cpp vocabulary/transcoder_protocol.cpp"
declare -A sources=(
  [acl_fuzz]="web/acl.cpp"
  [cookie_fuzz]="web/login.cpp web/sessions.cpp"
  [origin_fuzz]="web/request_origin.cpp web/acl.cpp"
  [multipart_fuzz]="web/request_text.cpp"
  [path_fuzz]="web/request_text.cpp"
  [settings_filters_fuzz]="settings/picture_filters.cpp settings/json_fields.cpp config/document.cpp config/json.cpp vocabulary/codecs.cpp vocabulary/formats.cpp vocabulary/text_format.cpp"
  [settings_records_fuzz]="settings/advanced_fields.cpp settings/advanced_format.cpp settings/advanced_video.cpp settings/global_settings.cpp settings/picture_filters.cpp settings/json_fields.cpp config/document.cpp config/json.cpp vocabulary/codecs.cpp vocabulary/formats.cpp config/login_password.cpp vocabulary/text_format.cpp"
  [config_post_fuzz]="$store_sources"
  [legacy_read_fuzz]="$store_sources"
  [output_parser_fuzz]="engine/output_parser.cpp engine/signal_watch.cpp engine/channel_slot.cpp engine/channel_status.cpp engine/channel_log.cpp platform/log_file.cpp engine/engine_clock.cpp engine/playlist.cpp platform/process.cpp vocabulary/text_format.cpp vocabulary/channel_state.cpp $store_sources"
  [thumbnail_stream_fuzz]="transcoder/stream_framing.cpp"
  [token_line_fuzz]="transcoder/token_line.cpp transcoder/thumbnail.cpp transcoder/translation.cpp platform/encoder_list.cpp platform/process.cpp transcoder/child_process.cpp transcoder/http_fanout.cpp transcoder/viewer_reports.cpp transcoder/stream_ring.cpp transcoder/stream_framing.cpp platform/host.cpp vocabulary/codecs.cpp vocabulary/formats.cpp platform/file_io.cpp platform/atomic_file.cpp vocabulary/url_predicates.cpp transcoder/capture_devices.cpp transcoder/failover_plan.cpp platform/capture_devices.cpp vocabulary/transcoder_protocol.cpp platform/head_deadlines.cpp platform/descriptor_limit.cpp vocabulary/url_credentials.cpp"
)
# Libraries a target links besides its sources.
declare -A libraries=(
  [cookie_fuzz]="-lsodium"
  [settings_filters_fuzz]="-lcjson"
  [settings_records_fuzz]="-lcjson -lsodium"
  [config_post_fuzz]="-lcjson -lsodium"
  [legacy_read_fuzz]="-lcjson -lsodium"
  [output_parser_fuzz]="-lcjson -lsodium"
  [token_line_fuzz]="-lmicrohttpd -lgnutls"
)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(acl_fuzz cookie_fuzz origin_fuzz multipart_fuzz path_fuzz settings_filters_fuzz
  settings_records_fuzz config_post_fuzz legacy_read_fuzz output_parser_fuzz token_line_fuzz
  thumbnail_stream_fuzz)

mkdir -p "$out"
for target in "${targets[@]}"; do
  [ -n "${sources[$target]:-}" ] || { echo "unknown fuzz target: $target" >&2; exit 2; }
  echo "== building $target"
  srcs=()
  for src in ${sources[$target]}; do srcs+=("$root/$src"); done
  "$cxx" -std=c++20 -g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined \
    -DFUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION \
    -fno-sanitize-recover=all -Wall -Wextra -Werror -I"$root" \
    "$root/fuzz/$target.cpp" "${srcs[@]}" ${libraries[$target]:-} -o "$out/$target"
done

status=0
for target in "${targets[@]}"; do
  corpus="$out/corpus/$target"
  mkdir -p "$corpus" "$out/findings"
  # libFuzzer adds new inputs to the first folder only, so the committed seeds stay as they are.
  seeds=()
  [ -d "$root/fuzz/corpus/$target" ] && seeds=("$root/fuzz/corpus/$target")
  echo "== running $target for ${seconds}s"
  if ! (cd "$out/findings" && "$out/$target" -max_total_time="$seconds" -max_len=4096 \
        -print_final_stats=1 "$corpus" "${seeds[@]}" 2>&1 | tee "$out/$target.log" | grep -E \
        '^(Done|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY)|deadly signal'); then
    :
  fi
  if ! grep -q '^Done ' "$out/$target.log"; then
    echo "!! $target stopped early; see $out/$target.log and $out/findings/" >&2
    status=1
  fi
done
exit $status
