// Throughput of the common services against their natural baselines, measured
// in the same run: posting and draining messages against a plain locked
// deque of callables, and record pool allocation against new/delete.
#include <benchmark/benchmark.h>

#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "common/message_queue.h"
#include "common/message_token.h"
#include "common/shared_record_pool.h"

namespace {

using Core_Common::MessageQueue;
using Core_Common::MessageToken;

void BM_MessagePostDrain(benchmark::State& state) {
    MessageQueue::create_current();
    MessageToken token;
    std::int64_t ran = 0;
    const auto batch = state.range(0);
    for (auto _ : state) {
        for (std::int64_t i = 0; i < batch; ++i) token.post([&ran] { ++ran; });
        MessageQueue::current()->drain();
    }
    benchmark::DoNotOptimize(ran);
    state.SetItemsProcessed(state.iterations() * batch);
    MessageQueue::destroy_current();
}
BENCHMARK(BM_MessagePostDrain)->Arg(1)->Arg(64)->Arg(1024);

// Baseline: a mutex-guarded deque of callables run in order.
void BM_LockedDequeBaseline(benchmark::State& state) {
    std::mutex lock;
    std::deque<std::function<void()>> queue;
    std::int64_t ran = 0;
    const auto batch = state.range(0);
    for (auto _ : state) {
        for (std::int64_t i = 0; i < batch; ++i) {
            std::lock_guard<std::mutex> guard(lock);
            queue.emplace_back([&ran] { ++ran; });
        }
        for (;;) {
            std::function<void()> f;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (queue.empty()) break;
                f = std::move(queue.front());
                queue.pop_front();
            }
            f();
        }
    }
    benchmark::DoNotOptimize(ran);
    state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_LockedDequeBaseline)->Arg(1)->Arg(64)->Arg(1024);

struct link_record_t {
    char bytes[200];
};

// Keeps one record alive so the pool does not give its chunks back each round.
void BM_RecordPoolCreateDestroy(benchmark::State& state) {
    using pool = Core_Common::shared_record_pool<link_record_t>;
    link_record_t* keep = pool::create("bench");
    std::vector<link_record_t*> held(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        for (auto& p : held) p = pool::create("bench");
        for (auto* p : held) pool::destroy(p);
    }
    pool::destroy(keep);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RecordPoolCreateDestroy)->Arg(16)->Arg(256);

void BM_NewDeleteBaseline(benchmark::State& state) {
    std::vector<link_record_t*> held(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        for (auto& p : held) {
            p = new link_record_t;
            benchmark::DoNotOptimize(p);
        }
        for (auto* p : held) delete p;
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_NewDeleteBaseline)->Arg(16)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
