#!/bin/sh
./wmawav working.wma working.wav
./lame working.wav working.mp3
rm -f working.nfo
rm -f working.wma
rm -f working.wav
