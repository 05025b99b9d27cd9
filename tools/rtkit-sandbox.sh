#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command as an ordinary user the way a desktop would have it for real-time scheduling: a
# system bus of its own, polkitd, RealtimeKit (rtkit-daemon) and a polkit rule that grants the
# user what polkit grants the user of an active desktop session. So the test of the sender
# thread's priority, and the benchmark's "ordinary user with RealtimeKit" row, run on a machine
# with no login session (CI, a server). Everything it makes (the user, the rule, the daemons, the
# bus) is gone when it ends, also when it is interrupted. Needs root; where something cannot be
# had it says why and exits 77.
#
#   tools/rtkit-sandbox.sh [--no-rtkit] COMMAND [ARGUMENTS...]
#
# --no-rtkit: the bus and polkit without RealtimeKit, as on a machine without the service.
# The command runs with HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR and DBUS_SYSTEM_BUS_ADDRESS of the
# sandbox; it must be readable and executable by the user. On standard output the script says
# "sandbox: pid <pid>" once the command runs, then passes SIGTERM and SIGINT on to it and ends with
# its exit status. Should the script's parent go away, the command is ended too.
set -euo pipefail

user=vorlagen-rttest
rule=/etc/polkit-1/rules.d/49-$user.rules
rtkit=yes
if [ "${1:-}" = --no-rtkit ]; then
    rtkit=no
    shift
fi
[ $# -gt 0 ] || { echo "usage: $0 [--no-rtkit] COMMAND [ARGUMENTS...]" >&2; exit 2; }

skip() {
    echo "rtkit-sandbox: $*" >&2
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root (it starts a system bus and daemons and makes a user)"
polkitd=$(command -v /usr/lib/polkit-1/polkitd /usr/libexec/polkitd 2>/dev/null | head -n1 || true)
for need in dbus-daemon dbus-send useradd userdel setpriv /usr/libexec/rtkit-daemon "$polkitd"; do
    command -v "$need" >/dev/null 2>&1 ||
        skip "${need:-polkitd} is missing (Debian packages: dbus-daemon dbus-bin passwd util-linux rtkit polkitd)"
done

work=$(mktemp -d /tmp/vorlagen-rtkit.XXXXXX)
pids=()
finish() {
    local status=$?
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    pkill -KILL -u "$user" 2>/dev/null || true
    userdel "$user" 2>/dev/null || true
    rm -f "$rule"
    rm -rf "$work"
    exit "$status"
}
trap finish EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# A user left behind by a run that was killed outright goes first.
pkill -KILL -u "$user" 2>/dev/null || true
userdel "$user" 2>/dev/null || true
useradd --system --no-create-home --home-dir "$work/home" --shell /usr/sbin/nologin "$user" ||
    skip "cannot make the user $user"
mkdir -p "$work/home/.config" "$work/run"
chmod 755 "$work"
chown -R "$user:" "$work/home" "$work/run"
chmod 700 "$work/run"

# polkit grants the action to the user of an active local session; here the rule stands in for
# the session.
cat >"$rule" <<EOF
polkit.addRule(function(action, subject) {
    if (action.id.indexOf("org.freedesktop.RealtimeKit1.") == 0 && subject.user == "$user")
        return polkit.Result.YES;
});
EOF

# The machine's own system bus is left alone: this one has a socket of its own, with the system
# bus's rules and the services' policies.
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Properties"/>
  </policy>
  <includedir>/usr/share/dbus-1/system.d</includedir>
  <includedir>/etc/dbus-1/system.d</includedir>
</busconfig>
EOF
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus

# Waits until `name` is on the bus, at most 10 s.
owned() {
    for _ in $(seq 100); do
        dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true' &&
            return 0
        sleep 0.1
    done
    return 1
}

dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile 2>"$work/bus.log" &
pids+=($!)
for _ in $(seq 100); do [ -S "$work/bus" ] && break; sleep 0.1; done
[ -S "$work/bus" ] || skip "the system bus did not start: $(tail -n1 "$work/bus.log")"
"$polkitd" --no-debug >"$work/polkit.log" 2>&1 &
pids+=($!)
owned org.freedesktop.PolicyKit1 || skip "polkitd did not start: $(tail -n1 "$work/polkit.log")"
if [ "$rtkit" = yes ]; then
    # It limits its own file size to nothing, so its log goes through a pipe, not to a file.
    /usr/libexec/rtkit-daemon --stderr 2> >(cat >"$work/rtkit.log") &
    pids+=($!)
    owned org.freedesktop.RealtimeKit1 || skip "rtkit-daemon did not start: $(tail -n1 "$work/rtkit.log")"
fi

keep=()
for name in PATH QT_QPA_PLATFORM ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS; do
    [ -n "${!name:-}" ] && keep+=("$name=${!name}")
done
env -i "${keep[@]}" HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
    XDG_RUNTIME_DIR="$work/run" DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SYSTEM_BUS_ADDRESS" \
    setpriv --reuid="$user" --regid="$user" --clear-groups --inh-caps=-all -- "$@" &
command=$!
pids=("$command" "${pids[@]}")
trap 'kill -TERM "$command" 2>/dev/null || true' TERM
trap 'kill -INT "$command" 2>/dev/null || true' INT
echo "sandbox: pid $command"
# Whoever started the sandbox may be killed outright (a test runner's time-out): the command then
# ends as at a logout, and the sandbox with it.
parent=$PPID
while kill -0 "$command" 2>/dev/null; do
    kill -0 "$parent" 2>/dev/null || kill -TERM "$command" 2>/dev/null || true
    sleep 0.2
done
status=0
wait "$command" || status=$?
exit "$status"
