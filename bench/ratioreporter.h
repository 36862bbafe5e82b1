#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

// The console output, followed by the mean time of chosen benchmarks as a ratio to a baseline
// measured in the same run: one line "ratio <name> / <baseline> = <r>" per pair whose two
// benchmarks both ran. Names are benchmark names as
// registered, without the suffixes Google Benchmark adds such as "/real_time"). CPU time by
// default; real time for work that runs on other threads.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    enum class Clock { Cpu, Real };
    using Ratio = std::pair<std::string, std::string>;   // name, baseline

    explicit RatioReporter(std::vector<Ratio> ratios, Clock clock = Clock::Cpu)
        : m_ratios(std::move(ratios)), m_clock(clock)
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                Mean& m = m_means[run.run_name.function_name];
                const double time = m_clock == Clock::Cpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
                m.sum += time / benchmark::GetTimeUnitMultiplier(run.time_unit);   // in seconds
                ++m.count;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const auto& [name, baseline] : m_ratios) {
            if (mean(name) > 0 && mean(baseline) > 0)
                std::printf("ratio %s / %s = %.3g (%s time)\n", name.c_str(), baseline.c_str(),
                            mean(name) / mean(baseline), m_clock == Clock::Cpu ? "CPU" : "real");
        }
    }

private:
    struct Mean
    {
        double sum = 0;
        int count = 0;
    };
    double mean(const std::string& name) const
    {
        const auto it = m_means.find(name);
        return it == m_means.end() || it->second.count == 0 ? 0 : it->second.sum / it->second.count;
    }

    std::vector<Ratio> m_ratios;
    Clock m_clock;
    std::map<std::string, Mean> m_means;
};
