// A ContentReport that keeps what the engine told it, for tests that judge a step by its
// reports rather than by the window. Safe to call from several threads.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "content/content_report.h"

class ReportRecorder : public ContentReport {
public:
    struct Stop {
        ContentStopKind Kind;
        std::string Name;
        uint32_t Release;
    };

    void Began() override { Add("began"); }
    void Progress(const ContentProgress& p) override {
        std::lock_guard<std::mutex> hold(lock_);
        progress.push_back(p);
        if (p.Name) names.emplace_back(p.Name, p.NameLength);
    }
    void HeldWaitBegins(const char* path, std::size_t length) override { Add("held " + std::string(path, length)); }
    void HeldWaiting(const char*, std::size_t) override { ++heldTries; }
    void HeldWaitOver(int resumed) override { Add(resumed ? "held over, resumed" : "held over"); }
    void Stopped(const ContentStop& s) override {
        std::lock_guard<std::mutex> hold(lock_);
        stops.push_back(Stop{s.Kind, s.Name ? std::string(s.Name, s.NameLength) : std::string(), s.Release});
    }
    void Finished(uint32_t release, int verify, uint32_t repaired) override {
        Add("finished " + std::to_string(release) + (verify ? " verify " : " ") + std::to_string(repaired));
    }
    void RetryWaitBegins(const char* path) override { Add(std::string("retry ") + path); }
    void RetryWaiting(unsigned, const char*) override { ++countdowns; }
    void RetryWaitOver(int resumed) override { Add(resumed ? "retry over, resumed" : "retry over"); }
    int Ending() const override { return ending.load(); }

    // The last progress report, or a default one when there was none.
    ContentProgress Last() {
        std::lock_guard<std::mutex> hold(lock_);
        return progress.empty() ? ContentProgress{} : progress.back();
    }

    std::atomic<int> ending{0};
    std::atomic<int> heldTries{0};
    std::atomic<int> countdowns{0};
    std::vector<ContentProgress> progress;  // read once the step is over
    std::vector<std::string> names;
    std::vector<std::string> events;
    std::vector<Stop> stops;

private:
    void Add(const std::string& event) {
        std::lock_guard<std::mutex> hold(lock_);
        events.push_back(event);
    }
    std::mutex lock_;
};
