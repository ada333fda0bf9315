#!/bin/sh
# Decodes working.wma and encodes the audio as working.mp3, in the folder it
# runs in. working.mp3 appears only when both tools succeeded: the encoder
# writes under a temporary name that is renamed at the end. The exit status
# is that of the first tool that failed, 0 when both succeeded. Arguments
# are options for the encoder (its quality); without any it uses its own
# defaults.
#
# The decoder writes the WAV through its standard output: a WAV file holds
# at most 4 GiB of audio (6 h 45 min of 44.1 kHz stereo), and beyond that
# the header says the length is not known, so that LAME reads to the end.
# Up to that the file is the same, sizes and all, as one the decoder names
# itself.
umask 077
./wmawav working.wma - >working.wav
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
