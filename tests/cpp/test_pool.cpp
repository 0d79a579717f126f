#include "pool.hpp"
#include "processors.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "error.hpp"

namespace pool = ostrel::pool;
namespace processors = ostrel::processors;
using std::chrono::milliseconds;

namespace {

TEST(PoolSizing, UnsignedParsingIsStrict) {
  EXPECT_EQ(processors::parse_unsigned("0"), 0u);
  EXPECT_EQ(processors::parse_unsigned("007"), 7u);
  EXPECT_EQ(processors::parse_unsigned("18446744073709551615"), 18446744073709551615u);
  for (const char* bad : {"", "+1", "-1", " 1", "1 ", "1a", "0x2", "18446744073709551616"}) {
    EXPECT_FALSE(processors::parse_unsigned(bad).has_value()) << '"' << bad << '"';
  }
}

TEST(PoolSizing, EnvironmentPrecedence) {
  // RAYON_NUM_THREADS first; 0 means the processor count even when the
  // second variable is set; an invalid value lets the second decide.
  EXPECT_EQ(processors::decide_num_threads("3", "5", 4), 3u);
  EXPECT_EQ(processors::decide_num_threads("0", "5", 4), 4u);
  EXPECT_EQ(processors::decide_num_threads("x", "5", 4), 5u);
  EXPECT_EQ(processors::decide_num_threads("", "5", 4), 5u);
  EXPECT_EQ(processors::decide_num_threads(nullptr, "5", 4), 5u);
  EXPECT_EQ(processors::decide_num_threads(nullptr, "0", 4), 4u);
  EXPECT_EQ(processors::decide_num_threads(nullptr, "-2", 4), 4u);
  EXPECT_EQ(processors::decide_num_threads(nullptr, nullptr, 4), 4u);
  EXPECT_EQ(processors::decide_num_threads("0", nullptr, 0), 1u);
}

TEST(PoolSizing, CgroupQuotas) {
  EXPECT_FALSE(processors::cpus_from_cpu_max("max 100000\n").has_value());
  EXPECT_EQ(processors::cpus_from_cpu_max("200000 100000\n"), 2u);
  EXPECT_EQ(processors::cpus_from_cpu_max("150000 100000\n"), 2u);
  EXPECT_EQ(processors::cpus_from_cpu_max("5000 100000"), 1u);
  EXPECT_FALSE(processors::cpus_from_cpu_max("").has_value());
  EXPECT_FALSE(processors::cpus_from_cpu_max("0 100000").has_value());
  EXPECT_FALSE(processors::cpus_from_cfs("-1\n", "100000\n").has_value());
  EXPECT_EQ(processors::cpus_from_cfs("250000\n", "100000\n"), 3u);
}

TEST(PoolSizing, CgroupDirectoryOfTheProcess) {
  // Hybrid layout: cpu controller on v1, an empty unified hierarchy beside.
  const char* hybrid_cgroup = "4:memory:/x\n2:cpuacct:/\n1:cpu:/job/7\n0::/\n";
  const char* hybrid_mounts =
      "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
      "32 31 0:29 / /sys/fs/cgroup/cpu rw,relatime - cgroup cgroup rw,cpu\n"
      "33 31 0:30 / /sys/fs/cgroup/cpuacct rw,relatime - cgroup cgroup rw,cpuacct\n"
      "41 31 0:38 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";
  auto v1 = processors::cgroup_cpu_dir(hybrid_cgroup, hybrid_mounts, false);
  ASSERT_TRUE(v1.has_value());
  EXPECT_EQ(v1->mount, "/sys/fs/cgroup/cpu");
  EXPECT_EQ(v1->dir, "/sys/fs/cgroup/cpu/job/7");
  auto v2 = processors::cgroup_cpu_dir(hybrid_cgroup, hybrid_mounts, true);
  ASSERT_TRUE(v2.has_value());
  EXPECT_EQ(v2->dir, "/sys/fs/cgroup/unified");

  // Container whose mount root is its own cgroup.
  const char* container_cgroup = "0::/docker/abc\n";
  const char* container_mounts =
      "40 30 0:38 /docker/abc /sys/fs/cgroup ro,nosuid shared:9 - cgroup2 cgroup2 rw\n";
  auto inner = processors::cgroup_cpu_dir(container_cgroup, container_mounts, true);
  ASSERT_TRUE(inner.has_value());
  EXPECT_EQ(inner->dir, "/sys/fs/cgroup");
}

// ---------------------------------------------------------------------------

TEST(PoolMap, EmptyRangeRunsNothing) {
  bool called = false;
  pool::parallel_for(0, [&](std::size_t, std::size_t) { called = true; });
  EXPECT_FALSE(called);
  EXPECT_TRUE(pool::parallel_map<double>(0, [](std::size_t) { return 1.0; }).empty());
}

TEST(PoolMap, EveryIndexExactlyOnceInIncreasingOrderWithinPieces) {
  constexpr std::size_t n = 5000;
  std::vector<std::atomic<int>> seen(n);
  std::atomic<bool> order_ok{true};
  pool::parallel_for(n, [&](std::size_t begin, std::size_t end) {
    if (!(begin < end && end <= n)) order_ok = false;
    for (std::size_t k = begin; k < end; ++k) seen[k].fetch_add(1);
  });
  EXPECT_TRUE(order_ok);
  for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(seen[k].load(), 1) << k;

  auto squares = pool::parallel_map<std::size_t>(n, [](std::size_t k) { return k * k; });
  for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(squares[k], k * k);
}

TEST(PoolMap, UnevenCostsAreStolenFromABusyWorker) {
  if (pool::current_num_threads() < 2) GTEST_SKIP() << "needs two workers";
  // Index 0 takes far longer than all others together: the thread stuck in it
  // must lose every other index to the idle workers.
  constexpr std::size_t n = 24;
  std::vector<std::thread::id> who(n);
  pool::parallel_for(n, [&](std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k) {
      who[k] = std::this_thread::get_id();
      std::this_thread::sleep_for(milliseconds(k == 0 ? 300 : 2));
    }
  });
  for (std::size_t k = 1; k < n; ++k) EXPECT_NE(who[k], who[0]) << k;
}

TEST(PoolMap, FailureStopsTheMapAndPoolServesLater) {
  constexpr std::size_t n = 400;
  std::atomic<int> evaluated{0};
  try {
    pool::parallel_for(n, [&](std::size_t begin, std::size_t end) {
      for (std::size_t k = begin; k < end; ++k) {
        evaluated.fetch_add(1);
        if (k % 7 == 3) throw ostrel::FatalError("bad index " + std::to_string(k));
        std::this_thread::sleep_for(milliseconds(1));
      }
    });
    FAIL() << "no exception";
  } catch (const ostrel::FatalError& e) {
    const std::string what = e.what();
    EXPECT_EQ(what.rfind("bad index ", 0), 0u) << what;
    EXPECT_EQ(std::stoul(what.substr(10)) % 7, 3u);
  }
  EXPECT_LT(evaluated.load(), static_cast<int>(n));

  // Any exception type comes back unchanged.
  EXPECT_THROW(pool::parallel_for(3, [](std::size_t, std::size_t) { throw std::out_of_range("x"); }),
               std::out_of_range);

  auto later = pool::parallel_map<double>(100, [](std::size_t k) { return 0.5 * k; });
  for (std::size_t k = 0; k < 100; ++k) ASSERT_EQ(later[k], 0.5 * k);
}

TEST(PoolMap, NestedMapRunsInline) {
  auto sums = pool::parallel_map<std::size_t>(16, [](std::size_t k) {
    auto inner = pool::parallel_map<std::size_t>(k + 1, [](std::size_t i) { return i; });
    std::size_t s = 0;
    for (std::size_t v : inner) s += v;
    return s;
  });
  for (std::size_t k = 0; k < 16; ++k) EXPECT_EQ(sums[k], k * (k + 1) / 2);
}

// ---------------------------------------------------------------------------
// Hand-off between the caller and the helpers.  Each test asks for three
// threads (ctest runs every test in a process of its own, so the request is
// read when the pool is made), which gives two helpers that steal from each
// other as well as from the caller.

std::size_t width_with_helpers() {
  setenv("RAYON_NUM_THREADS", "3", 0);
  return pool::current_num_threads();
}

TEST(PoolHandOff, EveryMapCompleteWhetherHelpersSpinOrPark) {
  width_with_helpers();
  // Pauses before a map: none (helpers spinning), within their spin, and long
  // enough for them to have parked; sizes from a single index up.
  const std::size_t sizes[] = {1, 2, 3, 17, 64, 700};
  const int pauses_us[] = {0, 0, 20, 150, 1500, 4000};
  for (int round = 0; round < 216; ++round) {
    const std::size_t n = sizes[round % 6];
    std::this_thread::sleep_for(std::chrono::microseconds(pauses_us[(round / 6) % 6]));
    std::vector<std::atomic<int>> seen(n);
    const bool slow = round % 36 >= 18;  // worth waking parked helpers
    pool::parallel_for(n, [&](std::size_t begin, std::size_t end) {
      for (std::size_t k = begin; k < end; ++k) {
        seen[k].fetch_add(1);
        if (slow) std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    for (std::size_t k = 0; k < n; ++k) ASSERT_EQ(seen[k].load(), 1) << "round " << round << " k " << k;
  }
}

TEST(PoolHandOff, ParkedHelpersAreWokenForALongMap) {
  if (width_with_helpers() < 2) GTEST_SKIP() << "needs helpers";
  // A wake-up that is lost leaves the caller to do the whole map alone.
  for (int trial = 0; trial < 3; ++trial) {
    std::this_thread::sleep_for(milliseconds(20));  // the helpers park
    std::vector<std::thread::id> who(40);
    pool::parallel_for(who.size(), [&](std::size_t begin, std::size_t end) {
      for (std::size_t k = begin; k < end; ++k) {
        who[k] = std::this_thread::get_id();
        std::this_thread::sleep_for(milliseconds(1));
      }
    });
    const auto helped = std::count_if(who.begin(), who.end(),
                                      [&](std::thread::id id) { return id != who[0]; });
    EXPECT_GT(helped, 0) << "trial " << trial;
  }
}

TEST(PoolHandOff, FailureOfTheCallersOwnIndexWaitsForTheHelpers) {
  if (width_with_helpers() < 2) GTEST_SKIP() << "needs helpers";
  // Index 0 is the caller's first; it fails while the helpers are inside
  // indices of their own, which must have ended before parallel_for returns.
  std::atomic<bool> returned{false};
  std::atomic<int> after_return{0};
  for (int trial = 0; trial < 3; ++trial) {
    EXPECT_THROW(pool::parallel_for(64,
                                    [&](std::size_t begin, std::size_t end) {
                                      for (std::size_t k = begin; k < end; ++k) {
                                        std::this_thread::sleep_for(milliseconds(k == 0 ? 2 : 4));
                                        if (k == 0) throw ostrel::FatalError("first index");
                                        if (returned) after_return.fetch_add(1);
                                      }
                                    }),
                 ostrel::FatalError);
    returned = true;
    std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(after_return.load(), 0);
    returned = false;
  }
}

TEST(PoolHandOff, CallersOnSeveralThreads) {
  width_with_helpers();
  // Threads of a task scheduler calling kernels at once: each gets its own
  // results and its own failures, whether its maps use the helpers or run on
  // the calling thread.
  constexpr int kCallers = 4;
  std::atomic<int> wrong{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < kCallers; ++t) {
    callers.emplace_back([t, &wrong] {
      for (int round = 0; round < 300; ++round) {
        const std::size_t n = 1 + static_cast<std::size_t>(round * 7 + t * 13) % 97;
        const bool fail = round % 25 == t;
        try {
          auto v = pool::parallel_map<std::size_t>(n, [&](std::size_t k) {
            if (fail && k == n / 2) throw ostrel::FatalError("caller " + std::to_string(t));
            return k * static_cast<std::size_t>(t + 1);
          });
          if (fail) wrong.fetch_add(1);
          for (std::size_t k = 0; k < n; ++k) {
            if (v[k] != k * static_cast<std::size_t>(t + 1)) wrong.fetch_add(1);
          }
        } catch (const ostrel::FatalError& e) {
          if (!fail || e.what() != "caller " + std::to_string(t)) wrong.fetch_add(1);
        }
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  EXPECT_EQ(wrong.load(), 0);
}

// ---------------------------------------------------------------------------

// ThreadSanitizer cannot follow fork() in a multi-threaded process.
#if defined(__SANITIZE_THREAD__)
#define SKIP_FORK_UNDER_TSAN() GTEST_SKIP() << "fork() is not supported under TSan"
#else
#define SKIP_FORK_UNDER_TSAN() (void)0
#endif

// Runs child() in a forked process and returns its exit status.
template <class F>
int in_child(F child) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) _exit(child());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

int map_works() {
  auto v = pool::parallel_map<std::size_t>(257, [](std::size_t k) { return 3 * k; });
  for (std::size_t k = 0; k < v.size(); ++k) {
    if (v[k] != 3 * k) return 1;
  }
  return 0;
}

TEST(PoolFork, ChildBuildsAFreshPool) {
  SKIP_FORK_UNDER_TSAN();
  ASSERT_EQ(map_works(), 0);  // the parent's pool exists
  EXPECT_EQ(in_child([] {
              // The environment is read again when the child's pool is made.
              setenv("RAYON_NUM_THREADS", "3", 1);
              if (map_works() != 0) return 1;
              return pool::current_num_threads() == 3 ? 0 : 2;
            }),
            0);
  EXPECT_EQ(map_works(), 0);
}

TEST(PoolFork, ForkWhileAnotherThreadMaps) {
  SKIP_FORK_UNDER_TSAN();
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer's own allocator is not guarded across fork() while another
  // thread allocates, and the child can hang inside it (glibc's malloc is).
  GTEST_SKIP() << "fork() while another thread allocates hangs ASan's allocator";
#endif
  std::atomic<bool> started{false};
  std::thread busy([&] {
    pool::parallel_for(200, [&](std::size_t begin, std::size_t end) {
      started = true;
      for (std::size_t k = begin; k < end; ++k) std::this_thread::sleep_for(milliseconds(1));
    });
  });
  while (!started) std::this_thread::yield();
  EXPECT_EQ(in_child(map_works), 0);
  busy.join();
  EXPECT_EQ(map_works(), 0);
}

TEST(PoolFork, CreationFailureIsFatalForEveryLaterMap) {
  SKIP_FORK_UNDER_TSAN();
  EXPECT_EQ(in_child([] {
              // Address space for a few thread stacks, not for 64.
              rlimit lim{};
              lim.rlim_cur = lim.rlim_max = 20u << 20;
              long pages = 0;
              if (FILE* f = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
                std::fclose(f);
              }
              lim.rlim_cur = lim.rlim_max += static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE);
              setrlimit(RLIMIT_AS, &lim);
              setenv("RAYON_NUM_THREADS", "64", 1);
              std::string messages[2];
              for (std::string& message : messages) {
                try {
                  map_works();
                } catch (const ostrel::FatalError& e) {
                  message = e.what();
                }
              }
              return !messages[0].empty() && messages[0] == messages[1] ? 0 : 1;
            }),
            0);
}

// ---------------------------------------------------------------------------

std::atomic<int> g_polls{0};
bool stop_on_third_poll(void*) { return g_polls.fetch_add(1) + 1 >= 3; }
bool never_stop(void*) {
  g_polls.fetch_add(1);
  return false;
}
bool throwing_poll(void*) { throw std::runtime_error("signal handler raised"); }

TEST(PoolInterrupt, HookStopsTheMapAfterPiecesUnderWay) {
  constexpr std::size_t n = 400;
  std::atomic<int> evaluated{0};
  auto slow = [&](std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k) {
      evaluated.fetch_add(1);
      std::this_thread::sleep_for(milliseconds(2));
    }
  };
  g_polls = 0;
  {
    const pool::WaitHookScope hook({stop_on_third_poll, nullptr});
    EXPECT_THROW(pool::parallel_for(n, slow), pool::Interrupted);
    EXPECT_EQ(g_polls.load(), 3);
    EXPECT_LT(evaluated.load(), static_cast<int>(n));
  }
  {
    const pool::WaitHookScope hook({throwing_poll, nullptr});
    EXPECT_THROW(pool::parallel_for(n, slow), std::runtime_error);
  }
  // A hook that never asks to stop changes nothing.
  g_polls = 0;
  evaluated = 0;
  {
    const pool::WaitHookScope hook({never_stop, nullptr});
    pool::parallel_for(20, slow);
  }
  EXPECT_EQ(evaluated.load(), 20);
  EXPECT_GT(g_polls.load(), 0);
}

std::atomic<int> g_foreign_polls{0};
bool poll_on_installer(void* installer) {
  if (*static_cast<std::thread::id*>(installer) != std::this_thread::get_id()) ++g_foreign_polls;
  g_polls.fetch_add(1);
  return false;
}

TEST(PoolInterrupt, HookBelongsToTheThreadThatInstalledIt) {
  // The two bindings share the pool and only one of them holds the
  // interpreter lock while it waits: a thread's hook must never run on
  // another caller's thread.
  auto slow = [](std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k) std::this_thread::sleep_for(milliseconds(1));
  };
  g_polls = 0;
  g_foreign_polls = 0;
  std::atomic<bool> stop{false}, hooked_ready{false};
  std::thread hooked([&] {
    std::thread::id self = std::this_thread::get_id();
    const pool::WaitHookScope hook({poll_on_installer, &self});
    hooked_ready = true;
    while (!stop) pool::parallel_for(20, slow);
  });
  while (!hooked_ready) std::this_thread::yield();
  for (int k = 0; k < 3; ++k) pool::parallel_for(30, slow);  // no hook here
  stop = true;
  hooked.join();
  EXPECT_GT(g_polls.load(), 0);
  EXPECT_EQ(g_foreign_polls.load(), 0);
}

}  // namespace
