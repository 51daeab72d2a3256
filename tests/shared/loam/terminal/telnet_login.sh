#!/bin/sh
# The fixed login program telnetd runs for the telnet client's tests: a
# greeting, then every line read comes back with "echo:" in front. A bare
# carriage return in "cr\rdone" travels as CR NUL on the telnet wire.
# The terminal would strip the eighth bit of input (byte 255 becomes DEL);
# telnetd may set the terminal again while options settle, so this is
# repeated before each line.
printf 'tarnwell login ready\n'
while stty -istrip && IFS= read -r line; do
  if [ "$line" = "cr" ]; then printf 'cr\rdone\n'; continue; fi
  printf 'echo:%s\n' "$line"
  [ "$line" = "quit" ] && exit 0
done
