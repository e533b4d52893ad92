#!/usr/bin/env bash
# Regenerates docs/screenshots/{client,server,english,quick-send}.png, the
# close-ups controls.png, controls-hover.png and dialog.png, one picture per
# chart type (chart-<type>.png), the smart-analysis dialog (analysis.png),
# the log's find bar (find.png), an entry's detail pane (detail.png), the
# recent-address popup (address-popup.png), a long row among short ones
# (rows-long.png), server mode followed client by client (server-filter.png)
# a chart on two value axes (chart-two-axes.png) and decoded binary frames
# (decode.png) from the real program
# running under Xvfb.
#
#   scripts/screenshot.sh [path/to/sockwise]
#
# Without an argument it builds the program in build-screenshot/. The program
# takes no options, so the mode and the language are switched from outside by
# clicking with xdotool. The click positions below belong to the window's
# layout at its default size; if the layout moves them, a click stops having
# an effect and the script fails instead of writing a wrong picture.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/docs/screenshots"

# Positions inside the window (x y), at its default size of 1120x760.
CLIENT_RADIO=(115 102)
SERVER_RADIO=(115 128)
LANGUAGE_SELECTOR=(910 27)

# Each wait polls a condition; these bound how long it may take.
START_TIMEOUT=30   # seconds for Xvfb and for the window to appear
SETTLE_TRIES=100   # captures while waiting for the picture to change and settle

# Pixels that may differ between two captures of a settled window (a blinking
# text caret), and that must differ after a click that did something.
SETTLED_MAX_DIFF=60
CHANGED_MIN_DIFF=200

need_packages=()
for pkg in xvfb x11-utils xdotool imagemagick fonts-noto-cjk fonts-noto-color-emoji; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need_packages+=("$pkg")
done
if [ "${#need_packages[@]}" -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages: ${need_packages[*]} (install them as root)" >&2
        exit 1
    fi
    apt-get install -y "${need_packages[@]}" >&2
fi

if [ $# -ge 1 ]; then
    program="$(realpath "$1")"
else
    build="$root/build-screenshot"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_TESTING=OFF -DSOCKWISE_BUILD_BENCH=OFF >&2
    cmake --build "$build" --target sockwise -j "$(nproc)" >&2
    program="$build/src/sockwise"
fi
[ -x "$program" ] || { echo "not an executable: $program" >&2; exit 1; }

work="$(mktemp -d)"
xvfb_pid=""
app_pid=""
sensor_pid=""
echo_pid=""
clients_pid=""
cleanup() {
    local status=$?
    if [ -n "$echo_pid" ]; then kill "$echo_pid" 2>/dev/null; wait "$echo_pid" 2>/dev/null || true; fi
    if [ -n "$clients_pid" ]; then kill "$clients_pid" 2>/dev/null; wait "$clients_pid" 2>/dev/null || true; fi
    if [ -n "$sensor_pid" ]; then kill "$sensor_pid" 2>/dev/null; wait "$sensor_pid" 2>/dev/null || true; fi
    if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null || true; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$work"
    # The program ends by a signal here; that must not become the script's status.
    exit "$status"
}
trap cleanup EXIT

# wait_for SECONDS COMMAND...: polls until COMMAND succeeds.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            return 1
        fi
        sleep 0.1
    done
}

# A display number that no running X server holds.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
wait_for "$START_TIMEOUT" xdpyinfo >/dev/null 2>&1 || {
    echo "Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
}

# A clean home, so that nothing of the user's desktop leaks into the pictures
# and the run log lands in a known place.
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
run_log="$XDG_DATA_HOME/sockwise/logs/Sockwise.log"

# From the clean home too: the export dialog opens in the working directory.
cd "$HOME"
"$program" >"$work/program.log" 2>&1 &
app_pid=$!

window_shown() { grep -q "Window shown" "$run_log" 2>/dev/null; }
find_window() {
    kill -0 "$app_pid" 2>/dev/null || return 1
    wid="$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | head -n 1)"
    [ -n "$wid" ]
}
wid=""
if ! wait_for "$START_TIMEOUT" window_shown || ! wait_for "$START_TIMEOUT" find_window; then
    echo "the window did not appear; program output:" >&2
    cat "$work/program.log" >&2
    exit 1
fi
# Without a window manager the window may open anywhere; put it where the
# whole of it is on the screen.
xdotool windowmove --sync "$wid" 0 0

capture() { import -window "$wid" "$1"; }
pixels_differing() {
    # compare exits 1 when the pictures differ; the count is what matters.
    compare -metric AE -fuzz 2% "$1" "$2" null: 2>&1 | awk '{ printf "%d\n", $1 }' || true
}
park_pointer() { xdotool mousemove 1270 790; }   # off the window: no hover looks

# settle BEFORE RESULT: captures until the picture differs from BEFORE (when
# BEFORE is given) and two captures in a row agree; that capture is RESULT.
settle() {
    local before="$1" result="$2" previous="$work/previous.png" current="$work/current.png"
    capture "$previous"
    local try diff
    for ((try = 0; try < SETTLE_TRIES; try++)); do
        sleep 0.1
        capture "$current"
        diff="$(pixels_differing "$previous" "$current")"
        if [ "$diff" -le "$SETTLED_MAX_DIFF" ]; then
            if [ -z "$before" ] \
                || [ "$(pixels_differing "$before" "$current")" -ge "$CHANGED_MIN_DIFF" ]; then
                cp "$current" "$result"
                return 0
            fi
        fi
        mv "$current" "$previous"
    done
    return 1
}

click_at() {
    xdotool mousemove --window "$wid" "$1" "$2" click 1
    park_pointer
}

save() {
    mkdir -p "$out"
    # No time stamps inside, so an unchanged window gives an unchanged file.
    convert "$1" -strip "$out/$2"
    echo "$out/$2"
}

park_pointer
settle "" "$work/client.png" || { echo "the window never settled" >&2; exit 1; }
save "$work/client.png" client.png

# --- Controls: arrows, check marks, hover looks and a standard dialog --------
# controls.png: the settings column at rest, at twice the size, pixels kept
# sharp (radio buttons on and off, check boxes on and off, combo and spin box
# arrows). controls-hover.png: the display group four times at twice the size,
# left to right and top to bottom: at rest, the pointer on an unchecked box,
# on a checked box, on the up button of the line spacing box. dialog.png: the
# log export's file dialog, whose own texts follow the interface language;
# it differs on every run, since the proposed file name carries the time.
# Positions inside the window (x y), as above.
SETTINGS_CROP=280x489+0+52
DISPLAY_CROP=258x196+14+384
HEX_DISPLAY_BOX=(40 431)
TIMESTAMP_BOX=(40 457)
LINE_SPACING_UP=(245 507)
EXPORT_BUTTON=(860 456)
# A hover changes less than a click: a border and a small background.
HOVER_MIN_DIFF=40

# An enlarged, framed crop; the frames keep the four hover tiles apart.
zoom() { convert "$1" -crop "$2" +repage -filter point -resize 200% -bordercolor "#334155" -border 2 "$3"; }
# settle, with a smaller change counting as one.
settle_hover() {
    local CHANGED_MIN_DIFF=$HOVER_MIN_DIFF
    settle "$@"
}

zoom "$work/client.png" "$SETTINGS_CROP" "$work/controls.png"
save "$work/controls.png" controls.png

# Back at rest between two spots, so that each picture has one hover only.
back_to_rest() {
    park_pointer
    settle_hover "$1" "$work/rest.png" || { echo "the window did not return to rest" >&2; exit 1; }
}
hovered=("$work/client.png")
for spot in HEX_DISPLAY_BOX TIMESTAMP_BOX LINE_SPACING_UP; do
    declare -n position="$spot"
    xdotool mousemove --window "$wid" "${position[@]}"
    settle_hover "$work/client.png" "$work/hover-$spot.png" \
        || { echo "pointing at $spot changed nothing: has the layout moved?" >&2; exit 1; }
    unset -n position
    hovered+=("$work/hover-$spot.png")
    back_to_rest "$work/hover-$spot.png"
done
for i in "${!hovered[@]}"; do
    zoom "${hovered[$i]}" "$DISPLAY_CROP" "$work/display-$i.png"
done
convert \( "$work/display-0.png" "$work/display-1.png" +append \) \
    \( "$work/display-2.png" "$work/display-3.png" +append \) -append "$work/controls-hover.png"
save "$work/controls-hover.png" controls-hover.png

other_window() {
    dialog="$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | grep -vx "$wid" | head -n 1)"
    [ -n "$dialog" ]
}
no_other_window() { ! other_window; }
dialog=""
click_at "${EXPORT_BUTTON[@]}"
wait_for 10 other_window || { echo "the export dialog did not open: has the button moved?" >&2; exit 1; }
# capture and settle take the picture of the window in wid.
shoot_dialog() {
    local wid="$dialog"
    settle "" "$work/dialog.png"
}
shoot_dialog || { echo "the export dialog never settled" >&2; exit 1; }
save "$work/dialog.png" dialog.png
xdotool windowfocus --sync "$dialog" key Escape
wait_for 10 no_other_window || { echo "the export dialog did not close" >&2; exit 1; }
park_pointer
# --- end of the controls block ------------------------------------------------

click_at "${SERVER_RADIO[@]}"
settle "$work/client.png" "$work/server.png" \
    || { echo "clicking the server mode changed nothing: has the layout moved?" >&2; exit 1; }
save "$work/server.png" server.png

# Back to client mode, the one a user sees first, for the English picture.
click_at "${CLIENT_RADIO[@]}"
settle "$work/server.png" "$work/client-again.png" \
    || { echo "clicking the client mode changed nothing: has the layout moved?" >&2; exit 1; }

# The selector opens its list as a window of its own; the keys go to that
# list once it is there (the entry below Chinese is English), and the picture
# is taken only after it has closed again.
visible_windows() { xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l; }
list_open() { [ "$(visible_windows)" -gt 1 ]; }
list_closed() { [ "$(visible_windows)" -le 1 ]; }
click_at "${LANGUAGE_SELECTOR[@]}"
wait_for 10 list_open \
    || { echo "the language selector did not open: has it moved?" >&2; exit 1; }
xdotool key --delay 100 Down Return
wait_for 10 list_closed || { echo "the language list did not close" >&2; exit 1; }
english_title() { ! xdotool getwindowname "$wid" | grep -q "调试助手"; }
wait_for 10 english_title \
    || { echo "the language did not switch: has the selector moved?" >&2; exit 1; }
park_pointer
settle "$work/client-again.png" "$work/english.png" \
    || { echo "the window did not settle in English" >&2; exit 1; }
save "$work/english.png" english.png

# ---------------------------------------------------------------- quick send
# The program started a second time with saved messages in its settings file
# (as a user who saved them earlier finds them) and connected to a local echo
# server; the "快捷发送" panel opened beside the log and its first message sent
# with a double-click, so that the log shows it going out and coming back.
QUICK_SEND_TOGGLE=(1064 74)
QUICK_SEND_FIRST_ITEM=(1120 70)
QUICK_SEND_CONNECT_BUTTON=(143 347)

kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=""
echo_log="$work/echo.log"
/usr/bin/python3 -u "$root/tests/peers/echo_server.py" </dev/null >"$echo_log" 2>&1 &
echo_pid=$!
echo_port() { grep -q '^PORT ' "$echo_log"; }
wait_for "$START_TIMEOUT" echo_port || { echo "the echo server did not start:" >&2; cat "$echo_log" >&2; exit 1; }
settings_dir="$XDG_CONFIG_HOME/Sockwise"
mkdir -p "$settings_dir"
printf '[connection]\naddress=ws://127.0.0.1:%s/\n\n' \
    "$(awk '/^PORT /{ print $2; exit }' "$echo_log")" >"$settings_dir/Sockwise.conf"
cat >>"$settings_dir/Sockwise.conf" <<'SETTINGS'
[quickSend]
1\name=订阅行情
1\text="{\"op\": \"subscribe\", \"channel\": \"ticker\", \"symbol\": \"BTC-USDT\"}"
1\hex=false
1\frame=text
2\name=心跳
2\text=ping
2\hex=false
2\frame=text
3\name=设备查询 (Modbus)
3\text=01 03 00 00 00 0A C5 CD
3\hex=true
3\frame=binary
4\name=取消订阅
4\text="{\"op\": \"unsubscribe\", \"channel\": \"ticker\"}"
4\hex=false
4\frame=text
size=4
SETTINGS

starts_before="$(grep -c "Window shown" "$run_log")"
started_again() { [ "$(grep -c "Window shown" "$run_log" 2>/dev/null)" -gt "$starts_before" ]; }
"$program" >"$work/program-again.log" 2>&1 &
app_pid=$!
wid=""
if ! wait_for "$START_TIMEOUT" started_again || ! wait_for "$START_TIMEOUT" find_window; then
    echo "the window did not appear again; program output:" >&2
    cat "$work/program-again.log" >&2
    exit 1
fi
xdotool windowmove --sync "$wid" 0 0
park_pointer
settle "" "$work/again.png" || { echo "the restarted window never settled" >&2; exit 1; }

click_at "${QUICK_SEND_CONNECT_BUTTON[@]}"
echo_connected() { grep -q '^OPEN' "$echo_log"; }
wait_for 10 echo_connected || { echo "the window did not connect to the echo server" >&2; exit 1; }
settle "" "$work/quick-send-connected.png" || { echo "the connected window never settled" >&2; exit 1; }
click_at "${QUICK_SEND_TOGGLE[@]}"
settle "$work/quick-send-connected.png" "$work/quick-send-open.png" \
    || { echo "the quick-send button opened nothing: has it moved?" >&2; exit 1; }
xdotool mousemove --window "$wid" "${QUICK_SEND_FIRST_ITEM[@]}" click 1 sleep 0.3 click --repeat 2 --delay 80 1
park_pointer
echoed() { [ "$(grep -vc -e '^PORT' -e '^OPEN' "$echo_log")" -gt 0 ]; }
wait_for 10 echoed || { echo "double-clicking the first saved message sent nothing: has it moved?" >&2; exit 1; }
settle "$work/quick-send-open.png" "$work/quick-send.png" \
    || { echo "the sent message did not show in the log" >&2; exit 1; }
save "$work/quick-send.png" quick-send.png
kill "$echo_pid" 2>/dev/null || true
wait "$echo_pid" 2>/dev/null || true
echo_pid=""

# --- Chart types and the smart-analysis dialog ------------------------------
# A fresh window, in Chinese, connects as a client to a local sensor server
# (scripts/sensor_server.py, one JSON reading a second); "智能分析" turns the
# recurring values into two rules, and each chart type is pictured with them.

# Positions inside the window at its default size; the last three once the
# settings column has been scrolled to its end.
CHART_URL_EDIT=(175 207)
CHART_CONNECT_BUTTON=(143 347)
CHART_ENABLE_CHECK=(31 622)
SETTINGS_SCROLLBAR=(270 300)
ANALYZE_BUTTON=(190 368)
CHART_TYPE_COMBO=(142 221)
CHART_TAB=(425 76)
CHART_TYPES=(line spline scatter area bar pie)   # in the order of the combo box
DATA_SECONDS=20   # readings to collect before the analysis, one a second

kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null || true
app_pid=""
# Fresh: without what the earlier runs left in the settings file.
rm -f "$XDG_CONFIG_HOME/Sockwise/Sockwise.conf"

sensor_log="$work/sensor.log"
/usr/bin/python3 -u "$root/scripts/sensor_server.py" 0 1 >"$sensor_log" 2>&1 &
sensor_pid=$!
sensor_port() { awk '/^PORT /{ print $2; exit }' "$sensor_log" 2>/dev/null | grep -q .; }
wait_for "$START_TIMEOUT" sensor_port || { echo "the sensor server did not start:" >&2; cat "$sensor_log" >&2; exit 1; }
port="$(awk '/^PORT /{ print $2; exit }' "$sensor_log")"

"$program" >"$work/program2.log" 2>&1 &
app_pid=$!
wait_for "$START_TIMEOUT" find_window || { echo "the second window did not appear" >&2; exit 1; }
xdotool windowmove --sync "$wid" 0 0
park_pointer
settle "" "$work/fresh.png" || { echo "the second window never settled" >&2; exit 1; }

xdotool mousemove --window "$wid" "${CHART_URL_EDIT[@]}" click 1 key ctrl+a
xdotool type --delay 20 "ws://127.0.0.1:$port/"
click_at "${CHART_CONNECT_BUTTON[@]}"
connected() { grep -q '^OPEN' "$sensor_log"; }
wait_for 10 connected || { echo "the window did not connect: has the address field moved?" >&2; exit 1; }
click_at "${CHART_ENABLE_CHECK[@]}"
xdotool mousemove --window "$wid" "${SETTINGS_SCROLLBAR[@]}" click --repeat 20 --delay 30 5
park_pointer
sleep "$DATA_SECONDS"

# The dialog is a window of its own: the picture is the screen over the window.
capture_screen() { import -window root -crop 1120x760+0+0 +repage "$1"; }
click_at "${ANALYZE_BUTTON[@]}"
wait_for 10 list_open \
    || { echo "the analysis dialog did not open: has the button moved?" >&2; exit 1; }
sleep 1
capture_screen "$work/analysis.png"
save "$work/analysis.png" analysis.png
xdotool key Return   # "添加到图表", with the values found ticked
wait_for 10 list_closed || { echo "the analysis dialog did not close" >&2; exit 1; }

click_at "${CHART_TAB[@]}"
previous=""
for index in "${!CHART_TYPES[@]}"; do
    if [ "$index" -gt 0 ]; then
        click_at "${CHART_TYPE_COMBO[@]}"
        wait_for 10 list_open \
            || { echo "the chart type list did not open: has it moved?" >&2; exit 1; }
        xdotool key --delay 50 Home
        for ((step = 0; step < index; step++)); do xdotool key --delay 50 Down; done
        xdotool key Return
        wait_for 10 list_closed || { echo "the chart type list did not close" >&2; exit 1; }
        # A rebuilt chart plots its points from the next reading on.
        sleep 1.5
    fi
    picture="$work/chart-${CHART_TYPES[$index]}.png"
    settle "$previous" "$picture" \
        || { echo "the ${CHART_TYPES[$index]} chart did not show" >&2; exit 1; }
    save "$picture" "chart-${CHART_TYPES[$index]}.png"
    previous="$picture"
done
# --- end of the chart block ----------------------------------------------------

# --- Search in the log and an entry's whole content ---------------------------
# A fresh window connects to the sensor server still running from the chart
# block, collects readings and disconnects, so that nothing moves any more.
# find.png: the find bar (Ctrl+F) with a regular expression and "只显示匹配"
# on. detail.png: the log tab with one reading selected, its pane on the
# indented JSON above the same pane on the hex dump.
FIND_URL_EDIT=(175 207)
FIND_CONNECT_BUTTON=(143 347)
FIND_REGEX_BOX=(312 146)
FIND_FILTER_BOX=(691 146)
DETAIL_TOGGLE=(639 456)
DETAIL_ROW=(600 200)
DETAIL_HEX_TAB=(405 283)
DETAIL_JSON_TAB=(475 283)
LOG_CROP=830x400+288+90
FIND_SECONDS=25   # readings to collect, one a second

kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null || true
app_pid=""
rm -f "$XDG_CONFIG_HOME/Sockwise/Sockwise.conf"
opens_before="$(grep -c '^OPEN' "$sensor_log")"
"$program" >"$work/program-find.log" 2>&1 &
app_pid=$!
if ! wait_for "$START_TIMEOUT" find_window; then
    echo "the find window did not appear; program output:" >&2
    cat "$work/program-find.log" >&2
    exit 1
fi
xdotool windowmove --sync "$wid" 0 0
park_pointer
settle "" "$work/find-fresh.png" || { echo "the find window never settled" >&2; exit 1; }

xdotool mousemove --window "$wid" "${FIND_URL_EDIT[@]}" click 1 key ctrl+a
xdotool type --delay 20 "ws://127.0.0.1:$port/"
click_at "${FIND_CONNECT_BUTTON[@]}"
connected_again() { [ "$(grep -c '^OPEN' "$sensor_log")" -gt "$opens_before" ]; }
wait_for 10 connected_again || { echo "the find window did not connect" >&2; exit 1; }
sleep "$FIND_SECONDS"
click_at "${FIND_CONNECT_BUTTON[@]}"
settle "" "$work/find-rows.png" || { echo "the log did not settle" >&2; exit 1; }

xdotool key ctrl+f
xdotool type --delay 20 '"temp": 2[5-7]'
click_at "${FIND_REGEX_BOX[@]}"
click_at "${FIND_FILTER_BOX[@]}"
settle "$work/find-rows.png" "$work/find.png" \
    || { echo "the find bar's filter changed nothing: has it moved?" >&2; exit 1; }
save "$work/find.png" find.png

xdotool key Escape
settle "$work/find.png" "$work/find-closed.png" || { echo "Esc did not close the find bar" >&2; exit 1; }
# A row shows its entry once "详情" has opened the pane.
click_at "${DETAIL_TOGGLE[@]}"
click_at "${DETAIL_ROW[@]}"
settle "$work/find-closed.png" "$work/detail-text.png" \
    || { echo "selecting a row showed no detail pane: has it moved?" >&2; exit 1; }
click_at "${DETAIL_JSON_TAB[@]}"
settle "$work/detail-text.png" "$work/detail-json.png" \
    || { echo "the JSON tab did not open: has it moved?" >&2; exit 1; }
click_at "${DETAIL_HEX_TAB[@]}"
settle "$work/detail-json.png" "$work/detail-hex.png" \
    || { echo "the hex tab did not open: has it moved?" >&2; exit 1; }
convert \( "$work/detail-json.png" -crop "$LOG_CROP" +repage \) \
    \( "$work/detail-hex.png" -crop "$LOG_CROP" +repage \) -append "$work/detail.png"
save "$work/detail.png" detail.png
# --- end of the find block -----------------------------------------------------

# --- The recent-address popup and a long row -----------------------------------
# address-popup.png: a start with a few long recent addresses in the settings
# file, the one shown with options of its own ("⚙ 3" beside it), and the list
# opened by Down in the field. rows-long.png: the log of a connection to an
# echo server after short messages and one very long one, rows one line high.
POPUP_URL_EDIT=(175 207)
POPUP_CROP=900x330+0+40
ROWS_URL_EDIT=(175 207)
ROWS_CONNECT_BUTTON=(143 347)
ROWS_SEND_EDIT=(700 608)

kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null || true
app_pid=""
mkdir -p "$settings_dir"
cat >"$settings_dir/Sockwise.conf" <<'SETTINGS'
[connection]
address=ws://127.0.0.1:8080/api/v2/stream/market-data
recentAddresses=ws://127.0.0.1:8080/api/v2/stream/market-data, wss://push.example.com/socket/notifications/v1/subscribe, ws://192.168.10.24:9001/devices/sensor-hub/telemetry/live, ws://localhost:3000/graphql/subscriptions
[client]
headers=X-Client: sockwise-demo
heartbeatSeconds=15
autoReconnect=true
[addressOptions]
1\address=ws://127.0.0.1:8080/api/v2/stream/market-data
1\headers=X-Client: sockwise-demo
1\heartbeatSeconds=15
1\autoReconnect=true
size=1
SETTINGS
"$program" >"$work/program-popup.log" 2>&1 &
app_pid=$!
wid=""
wait_for "$START_TIMEOUT" find_window || { echo "the popup window did not appear" >&2; exit 1; }
xdotool windowmove --sync "$wid" 0 0
park_pointer
settle "" "$work/popup-fresh.png" || { echo "the popup window never settled" >&2; exit 1; }
xdotool mousemove --window "$wid" "${POPUP_URL_EDIT[@]}" click 1 key Down
park_pointer
wait_for 10 list_open || { echo "Down in the address field opened no list: has it moved?" >&2; exit 1; }
sleep 1
import -window root -crop "$POPUP_CROP" +repage "$work/address-popup.png"
save "$work/address-popup.png" address-popup.png
xdotool key Escape
wait_for 10 list_closed || { echo "the address list did not close" >&2; exit 1; }

kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null || true
app_pid=""
rm -f "$settings_dir/Sockwise.conf"
echo_log="$work/echo.log"
/usr/bin/python3 -u "$root/tests/peers/echo_server.py" >"$echo_log" 2>&1 &
echo_pid=$!
echo_port() { grep -q '^PORT ' "$echo_log"; }
wait_for "$START_TIMEOUT" echo_port || { echo "the echo server did not start" >&2; exit 1; }
port="$(awk '/^PORT /{ print $2; exit }' "$echo_log")"
"$program" >"$work/program-rows.log" 2>&1 &
app_pid=$!
wid=""
wait_for "$START_TIMEOUT" find_window || { echo "the rows window did not appear" >&2; exit 1; }
xdotool windowmove --sync "$wid" 0 0
park_pointer
settle "" "$work/rows-fresh.png" || { echo "the rows window never settled" >&2; exit 1; }
xdotool mousemove --window "$wid" "${ROWS_URL_EDIT[@]}" click 1 key ctrl+a
xdotool type --delay 20 "ws://127.0.0.1:$port/"
click_at "${ROWS_CONNECT_BUTTON[@]}"
echo_open() { grep -q '^OPEN' "$echo_log"; }
wait_for 10 echo_open || { echo "the rows window did not connect" >&2; exit 1; }
long="{\"event\": \"snapshot\", \"items\": [$(for i in $(seq 1 60); do printf '{"id": %d, "price": %d.25}, ' "$i" "$((100 + i))"; done)\"end\"]}"
xdotool mousemove --window "$wid" "${ROWS_SEND_EDIT[@]}" click 1
for message in "hello" "status?" "$long" "ping" "bye"; do
    # The box keeps what was sent: each message replaces the last.
    xdotool key ctrl+a
    xdotool type --delay 2 "$message"
    xdotool key Return
    sleep 0.3
done
park_pointer
frames_echoed() { [ "$(grep -vc '^\(PORT\|OPEN\|CLOSED\)' "$echo_log")" -ge 5 ]; }
wait_for 10 frames_echoed || { echo "the send box took no text: has it moved?" >&2; exit 1; }
click_at "${ROWS_CONNECT_BUTTON[@]}"
settle "$work/rows-fresh.png" "$work/rows-all.png" || { echo "the log did not settle" >&2; exit 1; }
convert "$work/rows-all.png" -crop "$LOG_CROP" +repage "$work/rows-long.png"
save "$work/rows-long.png" rows-long.png
kill "$echo_pid" 2>/dev/null; wait "$echo_pid" 2>/dev/null || true
echo_pid=""
# --- end of the popup and rows block --------------------------------------------

# --- Server mode, one client at a time -------------------------------------------
# A fresh window listens on a free port (from its settings file) with three
# python clients (tests/peers/clients.py), each sending readings; the send box
# goes to the second client alone. server-filter.png: the find bar with "temp"
# marked and its client choice on the second client.
SERVER_LISTEN_BUTTON=(143 363)
SERVER_SECOND_CLIENT=(143 469)
SERVER_SEND_EDIT=(695 608)
FIND_CLIENT_COMBO=(927 149)

kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null || true
app_pid=""
server_port="$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
mkdir -p "$XDG_CONFIG_HOME/Sockwise"
printf '[connection]\nmode=server\nport=%s\n' "$server_port" >"$XDG_CONFIG_HOME/Sockwise/Sockwise.conf"
"$program" >"$work/program-server.log" 2>&1 &
app_pid=$!
wait_for "$START_TIMEOUT" find_window || { echo "the server window did not appear" >&2; exit 1; }
xdotool windowmove --sync "$wid" 0 0
park_pointer
settle "" "$work/server-fresh.png" || { echo "the server window never settled" >&2; exit 1; }
click_at "${SERVER_LISTEN_BUTTON[@]}"
listening() { ! /usr/bin/python3 -c "import socket; socket.socket().bind(('127.0.0.1', $server_port))" 2>/dev/null; }
wait_for 10 listening || { echo "the window did not listen: has the button moved?" >&2; exit 1; }

clients_in="$work/clients.in"
clients_log="$work/clients.log"
mkfifo "$clients_in"
url="ws://127.0.0.1:$server_port/ws"
/usr/bin/python3 -u "$root/tests/peers/clients.py" "$url" "$url" "$url" <"$clients_in" >"$clients_log" 2>&1 &
clients_pid=$!
exec 3>"$clients_in"
clients_ready() { grep -q '^READY' "$clients_log"; }
wait_for "$START_TIMEOUT" clients_ready || { echo "the clients did not connect:" >&2; cat "$clients_log" >&2; exit 1; }
for reading in '0 {"sensor": "A", "temp": 21.5}' '1 {"sensor": "B", "temp": 24.0}' \
    '2 {"sensor": "C", "temp": 19.8}' '1 {"sensor": "B", "temp": 24.3}' \
    '0 {"sensor": "A", "temp": 21.7}' '2 {"sensor": "C", "temp": 19.9}'; do
    echo "send $reading" >&3
    sleep 0.3
done
click_at "${SERVER_SECOND_CLIENT[@]}"
xdotool mousemove --window "$wid" "${SERVER_SEND_EDIT[@]}" click 1
xdotool type --delay 20 '{"cmd": "calibrate", "temp": 24}'
xdotool key Return
park_pointer
second_got_it() { grep -q '^MSG 1 ' "$clients_log"; }
wait_for 10 second_got_it || { echo "the send to the second client did not arrive" >&2; exit 1; }
settle "" "$work/server-rows.png" || { echo "the server log did not settle" >&2; exit 1; }

xdotool key ctrl+f
xdotool type --delay 20 'temp'
click_at "${FIND_CLIENT_COMBO[@]}"
wait_for 10 list_open || { echo "the client choice did not open: has it moved?" >&2; exit 1; }
xdotool key --delay 100 Home Down Down Return
wait_for 10 list_closed || { echo "the client choice did not close" >&2; exit 1; }
park_pointer
settle "$work/server-rows.png" "$work/server-filter.png" \
    || { echo "the client choice changed nothing: has it moved?" >&2; exit 1; }
save "$work/server-filter.png" server-filter.png
exec 3>&-
kill "$clients_pid" 2>/dev/null || true
wait "$clients_pid" 2>/dev/null || true
clients_pid=""
# --- end of the server block -------------------------------------------------------

# --- Two value axes -------------------------------------------------------------
# chart-two-axes.png: a fresh window whose settings file holds two rules, volt
# (near 3.3) on the left value axis and hum (near 50) on the right, connected
# to a sensor server sending both; the chart tab after some readings.
TWO_AXES_CONNECT_BUTTON=(143 347)
TWO_AXES_CHART_TAB=(425 76)
TWO_AXES_SECONDS=20   # readings to collect, two a second

kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null || true
app_pid=""
kill "$sensor_pid" 2>/dev/null
wait "$sensor_pid" 2>/dev/null || true
sensor_pid=""
sensor_log="$work/sensor-volt.log"
/usr/bin/python3 -u "$root/scripts/sensor_server.py" 0 0.5 volt,hum >"$sensor_log" 2>&1 &
sensor_pid=$!
wait_for "$START_TIMEOUT" sensor_port || { echo "the sensor server did not start again:" >&2; cat "$sensor_log" >&2; exit 1; }
mkdir -p "$XDG_CONFIG_HOME/Sockwise"
cat >"$XDG_CONFIG_HOME/Sockwise/Sockwise.conf" <<SETTINGS
[connection]
address=ws://127.0.0.1:$(awk '/^PORT /{ print $2; exit }' "$sensor_log")/

[chart]
enabled=true
type=line

[chartRules]
1\\name=volt
1\\expression=volt
1\\axis=left
2\\name=hum
2\\expression=hum
2\\axis=right
size=2
SETTINGS

"$program" >"$work/program-axes.log" 2>&1 &
app_pid=$!
if ! wait_for "$START_TIMEOUT" find_window; then
    echo "the two-axes window did not appear; program output:" >&2
    cat "$work/program-axes.log" >&2
    exit 1
fi
xdotool windowmove --sync "$wid" 0 0
park_pointer
settle "" "$work/axes-fresh.png" || { echo "the two-axes window never settled" >&2; exit 1; }
click_at "${TWO_AXES_CONNECT_BUTTON[@]}"
wait_for 10 connected || { echo "the two-axes window did not connect" >&2; exit 1; }
click_at "${TWO_AXES_CHART_TAB[@]}"
sleep "$TWO_AXES_SECONDS"
settle "" "$work/chart-two-axes.png" || { echo "the two-axes chart never settled" >&2; exit 1; }
save "$work/chart-two-axes.png" chart-two-axes.png
# --- end of the two-axes block ---------------------------------------------------

# --- Binary payloads decoded -----------------------------------------------------
# decode.png: a fresh window whose settings file keeps "Auto" decoding for the
# address of the codec peer (tests/peers/codec_peer.py, frames from cbor2,
# msgpack, python3-protobuf, gzip and zlib); connected, the rows show the
# decoded values, and one CBOR row is open on the detail pane's "解码" tab.
DECODE_CONNECT_BUTTON=(143 347)
DECODE_DETAIL_TOGGLE=(639 456)
DECODE_ROW=(600 142)
DECODE_TAB=(472 257)

kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null || true
app_pid=""
kill "$sensor_pid" 2>/dev/null
wait "$sensor_pid" 2>/dev/null || true
sensor_pid=""
codec_log="$work/codec.log"
/usr/bin/python3 -u "$root/tests/peers/codec_peer.py" --push-on-open </dev/null >"$codec_log" 2>&1 &
echo_pid=$!
codec_port() { grep -q '^PORT ' "$codec_log"; }
wait_for "$START_TIMEOUT" codec_port || { echo "the codec peer did not start:" >&2; cat "$codec_log" >&2; exit 1; }
codec_url="ws://127.0.0.1:$(awk '/^PORT /{ print $2; exit }' "$codec_log")/"
mkdir -p "$XDG_CONFIG_HOME/Sockwise"
cat >"$XDG_CONFIG_HOME/Sockwise/Sockwise.conf" <<SETTINGS
[connection]
address=$codec_url

[client]
decodeRows=auto

[addressOptions]
1\\address=$codec_url
1\\decodeRows=auto
size=1
SETTINGS
"$program" >"$work/program-decode.log" 2>&1 &
app_pid=$!
wid=""
wait_for "$START_TIMEOUT" find_window || { echo "the decode window did not appear" >&2; exit 1; }
xdotool windowmove --sync "$wid" 0 0
park_pointer
settle "" "$work/decode-fresh.png" || { echo "the decode window never settled" >&2; exit 1; }
click_at "${DECODE_CONNECT_BUTTON[@]}"
pushed() { [ "$(grep -c '^CASE ' "$codec_log")" -ge 10 ]; }
wait_for 10 pushed || { echo "the decode window did not connect" >&2; exit 1; }
click_at "${DECODE_CONNECT_BUTTON[@]}"
settle "" "$work/decode-rows.png" || { echo "the decoded rows never settled" >&2; exit 1; }
click_at "${DECODE_DETAIL_TOGGLE[@]}"
click_at "${DECODE_ROW[@]}"
settle "$work/decode-rows.png" "$work/decode-pane.png" \
    || { echo "selecting a row showed no detail pane: has it moved?" >&2; exit 1; }
click_at "${DECODE_TAB[@]}"
settle "$work/decode-pane.png" "$work/decode.png" \
    || { echo "the 解码 tab did not open: has it moved?" >&2; exit 1; }
save "$work/decode.png" decode.png
# --- end of the decode block ------------------------------------------------------
