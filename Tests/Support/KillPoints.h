#pragma once

// Crash tests end a child process at many points of its work and check what it left behind. By
// default they take an even sample of those points, so that each test ends within seconds;
// PELLWICK_KILL_EVERY_OPERATION=1 takes every point, and five times the random moments, in a long
// run.

#include <QList>
#include <QString>

namespace Pellwick::Test {

/// How many of a run's operations a crash test ends its child at by default.
constexpr int defaultKillPointSamples = 40;
/// How many random moments a crash test ends its child at by default.
constexpr int defaultRandomKills = 20;

/// Whether PELLWICK_KILL_EVERY_OPERATION=1 asks for every kill point.
bool killAtEveryPoint();

/// Points among 1 ... `count`, ascending and without repeats: every one when every point is asked
/// for, otherwise up to `samples` spread evenly, the first and the last included.
QList<int> killPoints(int count, int samples = defaultKillPointSamples);

/// `runs` random moments, or five times as many when every point is asked for.
int randomKillCount(int runs = defaultRandomKills);

/// A `QTemporaryDir` template for the files of a crash test: in memory where the system has a
/// memory file system with room to spare, otherwise in the temporary folder. A killed process
/// loses no page it wrote, so memory-backed storage leaves the same files and spares the many runs
/// their flushes to a disk.
QString killTestDirectoryTemplate(const QString &name);

} // namespace Pellwick::Test
