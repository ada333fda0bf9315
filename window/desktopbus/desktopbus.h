#pragma once
// What the desktop shows of a conversion run outside the window, over the
// user's session bus: the run's progress on the program's icon in docks and
// task bars that read the launcher entry (KDE Plasma, Dash to Dock, Plank),
// and a notification when a run ends. Without a session bus, or without a
// service that listens, nothing is shown and nothing waits: every message is
// sent without waiting for an answer.
#include <QString>

// The launcher entry's progress: fraction from 0 to 1, shown while visible.
void ShowLauncherProgress(double fraction, bool visible);

// Tells the desktop's notification service how a run ended.
void NotifyRunEnded(int converted, int failed);

// The notification's text, such as "3 files converted, 1 failed".
QString RunEndedText(int converted, int failed);
