#ifndef TQ470_TRANSFERWORKERS_H
#define TQ470_TRANSFERWORKERS_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A few threads that run posted jobs in turn. Built on the standard library's threads so that
// a thread sanitizer sees the hand-over of every job.
class TransferWorkers
{
public:
    explicit TransferWorkers(int threadCount);
    ~TransferWorkers();
    TransferWorkers(const TransferWorkers &) = delete;
    TransferWorkers &operator=(const TransferWorkers &) = delete;

    void post(std::function<void()> job);
    // Runs what is posted already, then ends the threads; later posts are dropped.
    void finish();

private:
    void work();

    std::mutex lock;
    std::condition_variable posted;
    std::deque<std::function<void()>> jobs;
    bool finishing = false;
    std::vector<std::thread> threads;
};

#endif
