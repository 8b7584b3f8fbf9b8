// The queue's overall figures; see queue_share.h.
#include "queue_share.h"

#include <algorithm>
#include <cmath>

QueueState state_after_run(const RunOutcome &outcome)
{
    if (outcome.end == RunEnd::Completed && outcome.status == 0)
        return outcome.partial ? QueueState::Partial : QueueState::Converted;
    if (outcome.end == RunEnd::Stopped)
        return QueueState::Stopped;
    return QueueState::Failed;
}

bool state_finished(QueueState state)
{
    return state == QueueState::Converted || state == QueueState::Partial || state == QueueState::Failed ||
           state == QueueState::Stopped;
}

bool state_wrote_file(QueueState state)
{
    return state == QueueState::Converted || state == QueueState::Partial;
}

double queue_done_fraction(const std::vector<QueueShare> &items)
{
    double known_total = 0;
    size_t known = 0;
    for (const QueueShare &item : items)
        if (item.duration_us > 0) {
            known_total += double(item.duration_us);
            known++;
        }
    const double average = known ? known_total / double(known) : 1.0;
    double total = 0, done = 0;
    for (const QueueShare &item : items) {
        const double weight = known ? (item.duration_us > 0 ? double(item.duration_us) : average) : 1.0;
        total += weight;
        if (state_finished(item.state))
            done += weight;
        else if (item.state == QueueState::Running && known)
            done += std::min(weight, double(std::max<int64_t>(0, item.done_us)));
    }
    return total > 0 ? done / total : 0.0;
}

int queue_percent(const std::vector<QueueShare> &items)
{
    return std::clamp(int(std::floor(queue_done_fraction(items) * 100.0)), 0, 100);
}

int64_t queue_time_left_us(const std::vector<QueueShare> &items, int64_t elapsed_us)
{
    const double fraction = queue_done_fraction(items);
    if (fraction <= 0 || elapsed_us <= 0)
        return -1;
    return int64_t(double(elapsed_us) * (1.0 - fraction) / fraction);
}

int run_percent(int64_t done_us, int64_t duration_us, bool whole)
{
    if (duration_us <= 0)
        return -1;
    if (whole)
        return 100;
    const int64_t done = std::clamp<int64_t>(done_us, 0, duration_us);
    return std::min<int64_t>(99, done * 100 / duration_us);
}

int64_t run_done_us(int64_t done_us, int64_t duration_us, bool whole)
{
    const int64_t done = std::max<int64_t>(0, done_us);
    if (duration_us <= 0)
        return done;
    return whole ? duration_us : std::min(done, duration_us - 1);
}
