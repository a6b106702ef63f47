#include "transferworkers.h"

#include <utility>

TransferWorkers::TransferWorkers(int threadCount)
{
    for (int i = 0; i < threadCount; ++i)
        threads.emplace_back([this] { work(); });
}

TransferWorkers::~TransferWorkers()
{
    finish();
}

void TransferWorkers::post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> locker(lock);
        if (finishing)
            return;
        jobs.push_back(std::move(job));
    }
    posted.notify_one();
}

void TransferWorkers::finish()
{
    {
        std::lock_guard<std::mutex> locker(lock);
        finishing = true;
    }
    posted.notify_all();
    for (std::thread &thread : threads)
        if (thread.joinable())
            thread.join();
}

void TransferWorkers::work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> locker(lock);
            posted.wait(locker, [this] { return finishing || !jobs.empty(); });
            if (jobs.empty())
                return;
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        job();
    }
}
