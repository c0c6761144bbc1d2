#pragma once

#include <QString>

namespace Pellwick::Test {

/// A bash script to run under an X server of its own (Support/PrivateXServer.h): starts "$PELLWICK_BINARY", waits until its window titled
/// "Pellwick" is mapped and, when "$WAIT_FOR_LINE" is set, until the file "$WAIT_IN_FILE" holds
/// that line; takes a screenshot of the whole screen into "$SCREENSHOT" and ends the application
/// by its process id (SIGTERM, which it answers as a closed window). Succeeds when the window
/// was mapped, the line (if any) appeared within 10 seconds, and the application then ended by
/// itself within 10 seconds with exit code 0.
inline const QString xvfbLaunchScript = QStringLiteral(R"(
"$PELLWICK_BINARY" & app=$!
mapped=no
for attempt in $(seq 1 300); do
    if xwininfo -name Pellwick 2>/dev/null | grep -q 'Map State: IsViewable'; then
        mapped=yes
        break
    fi
    if ! kill -0 "$app" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
seen=yes
if [ "$mapped" = yes ] && [ -n "${WAIT_FOR_LINE:-}" ]; then
    seen=no
    for attempt in $(seq 1 100); do
        if grep -qxF "$WAIT_FOR_LINE" "$WAIT_IN_FILE" 2>/dev/null; then
            seen=yes
            break
        fi
        sleep 0.1
    done
    [ "$seen" = yes ] || echo "no line '$WAIT_FOR_LINE' in $WAIT_IN_FILE"
fi
if [ "$mapped" = yes ]; then
    import -window root "$SCREENSHOT"
fi
kill -TERM "$app" 2>/dev/null
ended=no
for attempt in $(seq 1 100); do
    if ! kill -0 "$app" 2>/dev/null; then
        ended=yes
        break
    fi
    sleep 0.1
done
if [ "$ended" = no ]; then
    echo "the application did not end after SIGTERM"
    kill -KILL "$app"
fi
wait "$app"
status=$?
echo "exit status $status"
[ "$mapped" = yes ] && [ "$seen" = yes ] && [ "$ended" = yes ] && [ "$status" -eq 0 ]
)");

} // namespace Pellwick::Test
