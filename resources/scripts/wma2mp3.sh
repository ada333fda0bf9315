#!/bin/sh
# Decodes working.wma and encodes the audio as working.mp3, in the folder it
# runs in. working.mp3 appears only when both tools succeeded: the encoder
# writes under a temporary name that is renamed at the end. The exit status
# is that of the first tool that failed, 0 when both succeeded. Arguments
# are options for the encoder (its quality); without any it uses its own
# defaults.
umask 077
./wmawav working.wma working.wav
status=$?
if [ "$status" -eq 0 ]; then
    if [ "$#" -eq 0 ]; then
        ./lame working.wav .working.mp3.part
    else
        ./lame "$@" working.wav .working.mp3.part
    fi
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
