// The control's figures at one size, against the plainest QTreeWidget
// implementation and against the parse floor, all loading the same document
// from the same velmora-server in the same run.
#pragma once

#include "report.h"

#include <QString>

namespace Bench {

struct ControlOptions
{
    bool quick = false;
    // The QTreeWidget move of all items is quadratic; a run that takes
    // longer than this stops and is extrapolated (and labelled so).
    double referenceCapSeconds = 30.0;
    // Which of the three to run.
    bool ours = true;
    bool reference = true;
    bool floor = true;
};

// baseUrl: "http://127.0.0.1:PORT" of a velmora-server whose database holds
// size centers, none assigned to LoadEmployee.
void benchControl(Report &report, const QString &baseUrl, int port, int size, const ControlOptions &options);

// The links a site's operators load over, as the shaping proxy gives them.
inline constexpr struct
{
    const char *key;
    double megabitsPerSecond;
    double roundTripMs;
} Links[] = {{"link.office", 100.0, 2.0}, {"link.vpn", 20.0, 20.0}};

// Loads of the control from velmora-server through the shaping proxy at each
// of Links, and the bytes a load receives.
void benchLinks(Report &report, int serverPort, int size, bool quick);

// The resident memory of the control with the centers loaded, measured in
// child processes of this program (see memoryChildMain).
void benchMemory(Report &report, const QString &baseUrl, int size, bool quick);

// The child's side: prints "emptyKb warmKb loadedKb peakKb shownKb movedKb"
// (after 2 and after 100 moves of every center) and returns 0, or prints a
// reason to stderr and returns 1.
int memoryChildMain(const QString &baseUrl, int size);

} // namespace Bench
