#!/bin/sh
# Decodes working.wma and encodes the audio as working.mp3, in the folder it
# runs in. working.mp3 appears only when both tools succeeded: the encoder
# writes under a temporary name that is renamed at the end. The exit status
# is that of the first tool that failed, 0 when both succeeded.
umask 077
./wmawav working.wma working.wav
status=$?
if [ "$status" -eq 0 ]; then
    ./lame working.wav .working.mp3.part
    status=$?
    if [ "$status" -eq 0 ]; then
        mv -f .working.mp3.part working.mp3 || status=$?
    fi
fi
rm -f .working.mp3.part
rm -f working.nfo
rm -f working.wma
rm -f working.wav
exit "$status"
