#include "app/ArchiveChartSource.h"

#include <exception>

#include "archive/ThreadPriority.h"

namespace tavrik {

ArchiveChartSource::ArchiveChartSource(ArchiveChartQuery query, QObject* parent)
    : QObject(parent), query_(std::move(query)) {
    pool_.setMaxThreadCount(1);
    // One thread for good: a query may keep its connection, which belongs to one thread.
    pool_.setExpiryTimeout(-1);
}

ArchiveChartSource::~ArchiveChartSource() {
    pool_.waitForDone();
}

void ArchiveChartSource::Request(const ArchiveChartRequest& request) {
    if (running_)
        waiting_ = request;
    else
        Start(request);
}

void ArchiveChartSource::Start(const ArchiveChartRequest& request) {
    running_ = true;
    pool_.start([this, request] {
        LowerThreadPriority();
        ArchiveChartData data;
        try {
            data = query_(request);
        } catch (const std::exception& e) {
            data.error = e.what();
        }
        data.request = request;
        // Queued to the window's thread; the destructor waits for this task,
        // and a call still queued then is dropped with the object.
        QMetaObject::invokeMethod(
            this, [this, data = std::move(data)]() mutable { Answered(std::move(data)); },
            Qt::QueuedConnection);
    });
}

void ArchiveChartSource::Answered(ArchiveChartData data) {
    running_ = false;
    if (waiting_) {
        const ArchiveChartRequest next = *waiting_;
        waiting_.reset();
        return Start(next);
    }
    emit Ready(data);
}

} // namespace tavrik
