// Per-operation speed of the bitmap, the two generators (on 1, 2, 4, ... threads) and the XBM
// encoder.
//   cmake -S . -B build-bench -DFRACTXBM_BENCHMARKS=ON && cmake --build build-bench -j2
//   build-bench/bench/fractxbm_bench
#include <benchmark/benchmark.h>
#include <sched.h>

#include <cstddef>
#include <vector>

#include "bitmap/bitmap.hpp"
#include "fractals/fractals.hpp"

namespace {

void size_args(benchmark::internal::Benchmark* b) {
    b->Args({1000, 1000})->Args({16384, 16384})->Unit(benchmark::kMillisecond);
}

// Pixels in a scattered order that no prefetcher can guess, as the generators write them.
void BM_set_pixel(benchmark::State& state) {
    const auto side = static_cast<std::uint32_t>(state.range(0));
    CBitmap bitmap(side, side, false);
    std::uint32_t x = 1, y = 1;
    for (auto _ : state) {
        for (int i = 0; i < 100000; ++i) {
            x = (x * 1103515245u + 12345u) % side;
            y = (y * 69069u + 1u) % side;
            bitmap.set_pixel(x, y);
        }
        benchmark::DoNotOptimize(bitmap.bits.rows.data());
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_set_pixel)->Apply(size_args);

// One call draws 100000 points, the default run's count.
template <void (*Draw)(CBitmap&, std::uint32_t, PlotProgress, const DrawingPlan&)>
void BM_draw(benchmark::State& state) {
    CBitmap bitmap(static_cast<std::uint32_t>(state.range(0)),
                   static_cast<std::uint32_t>(state.range(1)), false);
    seed_triangle(1);
    for (auto _ : state) {
        Draw(bitmap, 100000, nullptr, {});
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_draw<draw_triangle>)->Name("BM_draw_triangle")->Apply(size_args);
BENCHMARK(BM_draw<draw_fern>)->Name("BM_draw_fern")->Apply(size_args);

// 1, 2, 4, ... threads, up to the processors that this process may run on (as taskset sets them).
void thread_args(benchmark::internal::Benchmark* b) {
    cpu_set_t set;
    const int cpus = ::sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
    for (int threads = 1; threads < cpus; threads *= 2) {
        b->Arg(threads);
    }
    b->Arg(cpus)->Unit(benchmark::kMillisecond)->UseRealTime();
}

// The drawing alone, 2^26 points, on a given number of threads: wall time, since the other
// threads' work is not the calling thread's. The fern on the default size, the triangle on a
// bitmap of 2 MiB, beyond the processor's own caches.
template <void (*Draw)(CBitmap&, std::uint32_t, PlotProgress, const DrawingPlan&),
          std::uint32_t kSide>
void BM_draw_on_threads(benchmark::State& state) {
    CBitmap bitmap(kSide, kSide, false);
    seed_triangle(1);
    const DrawingPlan plan{static_cast<unsigned>(state.range(0))};
    for (auto _ : state) {
        Draw(bitmap, 1u << 26, nullptr, plan);
    }
    state.SetItemsProcessed(state.iterations() * (1 << 26));
}
BENCHMARK(BM_draw_on_threads<draw_fern, 1000>)->Name("BM_fern_on_threads")->Apply(thread_args);
BENCHMARK(BM_draw_on_threads<draw_triangle, 4096>)
    ->Name("BM_triangle_on_threads")
    ->Apply(thread_args);

// The text as a run writes it: encoded into one 64 KiB buffer, handed on each time it fills, here
// to a sink that only looks at it. Sparse: a fern drawn as in the default run, mostly zero bytes
// as real pictures are. Dense: every bit set, so no byte takes the encoder's shortcut for zeros.
template <bool kDense>
void BM_write_xbm(benchmark::State& state) {
    CBitmap bitmap(static_cast<std::uint32_t>(state.range(0)),
                   static_cast<std::uint32_t>(state.range(1)), kDense);
    if (!kDense) {
        draw_fern(bitmap, 100000);
    }
    std::vector<char> buffer(std::size_t{1} << 16);
    const auto sink = [](void*, const char* data, std::size_t) {
        benchmark::DoNotOptimize(data);
        return true;
    };
    for (auto _ : state) {
        benchmark::DoNotOptimize(write_xbm(bitmap, buffer, sink, nullptr));
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations()) *
        static_cast<std::int64_t>(xbm_text_length(bitmap.width, bitmap.height)));
}
BENCHMARK(BM_write_xbm<false>)->Name("BM_write_xbm_sparse")->Apply(size_args);
BENCHMARK(BM_write_xbm<true>)->Name("BM_write_xbm_dense")->Apply(size_args);

}  // namespace

BENCHMARK_MAIN();
