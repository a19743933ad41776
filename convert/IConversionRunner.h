// IConversionRunner: what the batch needs of the thing that converts one item
// (the conversion graph in the program, a fake in tests). The batch opens and
// closes output files through it and starts, pauses, stops and watches one
// item at a time.
//
// Threads: every call from the thread that drives the batch.
#pragma once

#include <string>

#include "convert/ConvertTask.h"
#include "profiles/OutputProfile.h"

class IConversionRunner {
public:
    enum class Event { None, Complete, Error };

    virtual ~IConversionRunner() = default;
    // Opens `path` for the profile; false with the reason in `error`.
    virtual bool OpenOutput(const std::string& path, const EncodeParams& params,
                            std::string& error) = 0;
    // Finishes the open file; false (with the reason) when it could not be
    // completed. Harmless when nothing is open.
    virtual bool CloseOutput(std::string& error) = 0;
    // Builds and starts the pipeline of one item; false with the reason.
    virtual bool StartItem(const ConvertTask& task, std::string& error) = 0;
    virtual void PauseItem() = 0;
    virtual void ResumeItem() = 0;
    // Stops and releases the item's pipeline (the file stays open).
    virtual void StopItem() = 0;
    // Waits up to `ms` for the item's end: Complete, Error (with the reason),
    // or None when it is still running.
    virtual Event WaitEvent(int ms, std::string& error) = 0;
    // Converted time of the item and its length, in seconds.
    virtual double Position() = 0;
    virtual double Duration() = 0;
};
