#pragma once

#include <algorithm>
#include <cstdio>
#include <vector>

// The goals of a benchmark program. Each figure is printed with its goal beside it; a goal missed by more than the
// noise of the run itself (the spread of repeated measurements of the same thing, measured in the same run) counts
// as missed, and the program then exits non-zero. Figures without timing noise (memory) have a margin of 0.
inline bool& GoalMissed()
{
    static bool missed = false;
    return missed;
}

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The relative noise of repeated times of the same thing: their median absolute deviation over their median, which
// one run disturbed by the machine's load does not move.
inline double Noise(const std::vector<double>& times)
{
    const double median = Median(times);
    if (times.size() < 3 || median <= 0)
        return 0;
    std::vector<double> deviations;
    for (double t : times)
        deviations.push_back(t > median ? t - median : median - t);
    return Median(deviations) / median;
}

// atMost: the figure must stay at or below the goal (times, memory); else at or above it (speed ratios).
inline void CheckGoal(const char* what, double value, const char* unit, double goal, bool atMost, double noise)
{
    const double limit = atMost ? goal * (1 + noise) : goal * (1 - noise);
    const bool ok = atMost ? value <= limit : value >= limit;
    std::printf("goal: %-44s %9.2f %s (goal %s %.2f; noise %.0f%%, missed %s %.2f): %s\n", what, value, unit,
                atMost ? "<=" : ">=", goal, noise * 100, atMost ? "above" : "below", limit, ok ? "met" : "MISSED");
    if (!ok)
        GoalMissed() = true;
}
