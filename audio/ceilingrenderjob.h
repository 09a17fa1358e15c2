#pragma once

#include "audio/ceilingrender.h"

#include <atomic>
#include <thread>

// A CeilingRender on a thread of its own, for callers that must not wait
// for it (a window): started once, polled with isFinished(), read after.
// stop() and the destructor end a render still at work and join its thread.
class CeilingRenderJob {
public:
    explicit CeilingRenderJob(const CeilingRender& render)
        : m_render(render)
    {
    }
    ~CeilingRenderJob() { stop(); }
    CeilingRenderJob(const CeilingRenderJob&) = delete;
    CeilingRenderJob& operator=(const CeilingRenderJob&) = delete;

    void start();
    bool isFinished() const { return m_finished.load(); }
    void stop();
    // Read after isFinished().
    bool succeeded() const { return m_succeeded; }
    const CeilingRender& render() const { return m_render; }

private:
    CeilingRender m_render;
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    bool m_succeeded = false;
};
