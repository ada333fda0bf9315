#pragma once
// How the program's windows fit the screen and the window system, and how the
// main window's captions fit their controls when another font stands in for
// the one they were designed for.
#include <QMargins>
#include <QRect>
#include <QSize>

class QAbstractButton;

// Whether windows are shown through a Wayland compositor, which gives a
// maximized or full-screen window its size and demands a surface of exactly
// that size.
bool OnWayland();

// The window's place and size (the inside of its frame, in screen
// coordinates) in a screen's available area (the screen without its panels),
// for content designed at a given size. The window takes the designed size
// where it fits with its frame; otherwise as much as fits, and the content
// scrolls, with room for a scroll bar (scrollBar pixels thick) across the
// other way where the content still fits that way. The frame is placed:
// centred, moved so that no part of it lies outside, and with its top left
// corner (the title bar) kept inside where the area is too small even so.
QRect FitWithin(const QRect& available, const QSize& designed, const QMargins& frame, int scrollBar);

// Makes a control wide enough for its caption as its font draws it: an option
// button grows to the right, up to its container's edge; where that is not
// enough, and for push buttons, which have neighbours, the caption's font
// gets smaller, down to 6 points. A control whose caption fits is left as
// designed.
void FitCaption(QAbstractButton* control);
