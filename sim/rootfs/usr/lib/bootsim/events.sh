# Shared by the board's stand-in programs: the event log /board/events.log (DIR/events.log
# of the board directory). A call is one line "PROGRAM ARGS..." (arguments joined by blanks);
# its details follow as "PROGRAM.KEY VALUE..." lines.
BOOTSIM_EVENTS=/board/events.log

event() {
	printf '%s\n' "$*" >> "$BOOTSIM_EVENTS"
}

# event_context PROGRAM: the caller's working directory and environment, one
# "PROGRAM.env NAME=VALUE" line per variable in name order. PWD, OLDPWD and SHLVL are left
# out: the stand-in's own shell sets them.
event_context() {
	event "$1.cwd" "$(pwd)"
	env | sort | while IFS= read -r line; do
		case "$line" in
		PWD=* | OLDPWD=* | SHLVL=*) ;;
		*) event "$1.env" "$line" ;;
		esac
	done
}

# power_off REASON: tells bootsim why the power-on ended ("application").
power_off() {
	printf '%s\n' "$1" > /board/.poweroff
}
