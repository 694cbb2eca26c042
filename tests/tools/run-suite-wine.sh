#!/bin/sh
# Runs one suite, built for Windows, under Wine: run-suite-wine.sh SUITE [ARG...]
# QtTest there sends its report to the debugger channel when it thinks it has
# no console of its own, which under Wine it always does; told to write a file,
# it writes that, and this prints it. Its exit status (the number of failed
# cases) stands. Wine hands no QT_* variable to Windows programs, so a suite
# with windows is given its platform as an argument.
suite=$1
shift
# What Wine itself prints goes through a file too: a program the suite started
# and that outlives it (Wine's console host among them) would otherwise hold
# CTest's pipe open long after the suite ended.
report=$(mktemp)
log=$(mktemp)
wine "$suite" "$@" -o "Z:$report,txt" >"$log" 2>&1
status=$?
cat "$log" "$report"
rm -f "$report" "$log"
exit "$status"
