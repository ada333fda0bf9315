#!/bin/sh
# Decodes working.wma as working.wav, in the folder it runs in. The decoder
# writes under a temporary name and renames it at the end, so working.wav
# appears only when it succeeded. The exit status is the decoder's.
umask 077
./wmawav working.wma working.wav
status=$?
rm -f working.nfo
rm -f working.wma
exit "$status"
