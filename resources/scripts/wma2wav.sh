#!/bin/sh
./wmawav working.wma working.wav
rm -f working.nfo
rm -f working.wma
