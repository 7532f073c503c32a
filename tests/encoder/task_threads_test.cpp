// Running tasks: one after another or in parallel, inline, paused, stopped, never started, freed
// while running; where the events arrive and that the main thread never deadlocks with a worker
// that waits for it. The files written are checked with ffprobe.
#include <gtest/gtest.h>
#include <pthread.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "encoder/encoder_support.h"
#include "encoder/ff_encoder.h"
#include "support/media_env.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

using namespace std::chrono_literals;
using test::PumpUntil;
using test::W;

struct TEnd {
  int Index;
  bool Completed, Failed;
  std::string Message;
  bool OnMain;
};

class TaskThreads : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new test::TTempDir;
    test::MakeClip(*Dir / "short.avi", "-f lavfi -i testsrc=duration=1:size=160x120:rate=25 -c:v mpeg4");
    test::MakeClip(*Dir / "long.avi", "-f lavfi -i testsrc=duration=30:size=160x120:rate=25 -c:v mpeg4");
    // Big enough that converting it at full speed takes a few progress intervals.
    test::MakeClip(*Dir / "big.avi", "-f lavfi -i testsrc=duration=20:size=640x480:rate=25 -c:v mpeg4 -q:v 5");
  }
  static void TearDownTestSuite() { delete Dir; }

  void SetUp() override {
    Enc.SetProgressInterval(100);
    Enc.OnTerminate = [this](TObject* sender, const TTerminateInfo& info) {
      EXPECT_EQ(sender, &Enc);
      std::lock_guard<std::mutex> lock(Lock);
      Ends.push_back({info.TaskIndex, info.Completed, info.Failed, info.ErrorMessage, IsMainThread()});
    };
    Enc.OnProgress = [this](TObject*, PProgressInfo info) {
      std::lock_guard<std::mutex> lock(Lock);
      Progress.push_back(*info);
      ProgressOnMain.push_back(IsMainThread());
    };
  }
  void TearDown() override {
    Enc.Stop(true);
    PumpUntil([this] { return !Enc.Working() || Enc.AllDone(); }, 10s);
  }

  // A task converting `clip` to `out` (mpeg4 in AVI); `realtime` reads the input at its own pace.
  int AddConversion(const std::string& clip, const std::string& out, bool realtime = false) {
    TInputOptions in;
    if (realtime) in.ExtOptions = "re";
    int index = Enc.AddTask(W(*Dir / clip), in);
    EXPECT_GE(index, 0) << Enc.LastError();
    TOutputOptions o;
    o.VideoCodec = "mpeg4";
    EXPECT_TRUE(Enc.SetOutputFile(index, W(*Dir / out), o)) << Enc.LastError();
    return index;
  }
  bool FinalSeen() {
    std::lock_guard<std::mutex> lock(Lock);
    return !Ends.empty() && Ends.back().Index == -1;
  }
  size_t ProgressCount() {
    std::lock_guard<std::mutex> lock(Lock);
    return Progress.size();
  }
  std::vector<int> EndIndexes() {
    std::lock_guard<std::mutex> lock(Lock);
    std::vector<int> v;
    for (const auto& e : Ends) v.push_back(e.Index);
    return v;
  }
  int Frames(const std::string& out) {
    std::string n = test::Probe(*Dir / out, "stream=nb_read_frames -count_frames", "v:0");
    return n.empty() ? -1 : std::atoi(n.c_str());
  }

  static test::TTempDir* Dir;
  TFFEncoder Enc;
  std::mutex Lock;
  std::vector<TEnd> Ends;
  std::vector<TProgressInfo> Progress;
  std::vector<bool> ProgressOnMain;
};
test::TTempDir* TaskThreads::Dir = nullptr;

TEST_F(TaskThreads, OneAtATimeEndsInTaskOrderThenTheFinalEvent) {
  for (int i = 0; i < 3; ++i) AddConversion("short.avi", "seq" + std::to_string(i) + ".avi");
  // While a task reports progress, the ones before it have finished and the ones after it have not
  // started.
  bool overlap = false;
  auto record = Enc.OnProgress.Load();
  Enc.OnProgress = [&, record](TObject* s, PProgressInfo info) {
    for (int j = 0; j < Enc.TaskCount(); ++j) {
      TFFmpeg* t = Enc.Task(j);
      if (j < info->TaskIndex && !t->Finished) overlap = true;
      if (j > info->TaskIndex && (t->Running || t->Finished)) overlap = true;
    }
    record(s, info);
  };
  // The run is over for the final event's handler (it may clear the tasks).
  bool finalSawRunOver = false;
  auto ends = Enc.OnTerminate.Load();
  Enc.OnTerminate = [&, ends](TObject* s, const TTerminateInfo& info) {
    if (info.TaskIndex == -1) {
      EXPECT_TRUE(Enc.AllDone());
      overlap = overlap || Enc.FinishedCount() != 3;
      finalSawRunOver = true;
    }
    ends(s, info);
  };
  Enc.StartTask(1);
  EXPECT_TRUE(Enc.Working());
  ASSERT_TRUE(PumpUntil([&] { return FinalSeen(); })) << "no final event";
  EXPECT_TRUE(finalSawRunOver);
  EXPECT_EQ(EndIndexes(), (std::vector<int>{0, 1, 2, -1}));
  EXPECT_FALSE(overlap);
  for (const TEnd& e : Ends) {
    EXPECT_TRUE(e.Completed) << e.Index;
    EXPECT_FALSE(e.Failed) << e.Index << ": " << e.Message;
    EXPECT_TRUE(e.OnMain) << e.Index;
  }
  EXPECT_TRUE(Enc.AllDone());
  EXPECT_EQ(Enc.FinishedCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Frames("seq" + std::to_string(i) + ".avi"), 25) << i;
  // The last report of each task says so.
  std::vector<int> lastReports;
  for (const auto& p : Progress)
    if (p.InputIndex == -1) lastReports.push_back(p.TaskIndex);
  EXPECT_EQ(lastReports, (std::vector<int>{0, 1, 2}));
}

TEST_F(TaskThreads, ParallelTasksStillDeliverTheFinalEventLast) {
  for (int i = 0; i < 4; ++i) AddConversion("short.avi", "par" + std::to_string(i) + ".avi");
  Enc.StartTask(4);
  ASSERT_TRUE(PumpUntil([&] { return FinalSeen(); }));
  std::vector<int> idx = EndIndexes();
  ASSERT_EQ(idx.size(), 5u);
  EXPECT_EQ(idx.back(), -1);
  std::sort(idx.begin(), idx.end() - 1);
  EXPECT_EQ(idx, (std::vector<int>{0, 1, 2, 3, -1}));
}

TEST_F(TaskThreads, InlineRunCallsTerminateDirectly) {
  for (int i = 0; i < 3; ++i) AddConversion("short.avi", "inl" + std::to_string(i) + ".avi");
  Enc.StartTask(0);
  // Everything happened inside StartTask, on this thread, without any pumping.
  EXPECT_EQ(EndIndexes(), (std::vector<int>{0, 1, 2, -1}));
  for (const TEnd& e : Ends) {
    EXPECT_TRUE(e.OnMain);
    EXPECT_TRUE(e.Completed);
  }
  EXPECT_FALSE(Enc.Threaded());
  EXPECT_TRUE(Enc.AllDone());
  EXPECT_EQ(Frames("inl2.avi"), 25);
}

TEST_F(TaskThreads, StartingWithoutTasksEndsAtOnce) {
  Enc.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return FinalSeen(); }, 5s));
  EXPECT_EQ(EndIndexes(), (std::vector<int>{-1}));
  EXPECT_NO_THROW(Enc.ClearTasks());
}

TEST_F(TaskThreads, OperationsAreRefusedWhileWorking) {
  AddConversion("long.avi", "guard.avi", true);
  Enc.StartTask(1);
  struct TCase {
    const char* Text;
    std::function<void()> Call;
  } cases[] = {
      {"Cannot AddTask while working.", [&] { Enc.AddTask(W(*Dir / "short.avi")); }},
      {"Cannot AddInputFile while working.", [&] { Enc.AddInputFile(0, W(*Dir / "short.avi")); }},
      {"Cannot SetOutputFile while working.", [&] { Enc.SetOutputFile(0, W(*Dir / "x.avi")); }},
      {"Cannot RemoveTask while working.", [&] { Enc.RemoveTask(0); }},
      {"Cannot StartTask while working.", [&] { Enc.StartTask(1); }},
      {"Cannot ClearTasks while working.", [&] { Enc.ClearTasks(); }},
  };
  for (const auto& c : cases) {
    try {
      c.Call();
      ADD_FAILURE() << "no exception: " << c.Text;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.Text);
    }
  }
  EXPECT_EQ(Enc.TaskCount(), 1);
  Enc.Stop(true);
  ASSERT_TRUE(PumpUntil([&] { return FinalSeen(); }));
  EXPECT_TRUE(Enc.Working());  // until ClearTasks
  EXPECT_NO_THROW(Enc.ClearTasks());
  EXPECT_FALSE(Enc.Working());
  EXPECT_EQ(Enc.TaskCount(), 0);
  EXPECT_GE(AddConversion("short.avi", "after.avi"), 0);
}

TEST_F(TaskThreads, PauseTwiceIsPauseOnce) {
  AddConversion("long.avi", "pause.avi", true);
  Enc.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return ProgressCount() >= 2; }, 20s));
  Enc.Resume();  // without Pause: nothing
  EXPECT_FALSE(Enc.Paused());
  Enc.Pause();
  Enc.Pause();
  EXPECT_TRUE(Enc.Paused());
  // A report already on its way may still arrive; then nothing while paused.
  PumpUntil([] { return false; }, 300ms);
  size_t before = ProgressCount();
  PumpUntil([] { return false; }, 800ms);
  EXPECT_EQ(ProgressCount(), before);
  Enc.Resume();  // one Resume undoes both Pauses
  EXPECT_FALSE(Enc.Paused());
  EXPECT_TRUE(PumpUntil([&] { return ProgressCount() >= before + 2; }, 10s)) << "still paused";
}

TEST_F(TaskThreads, StopWithWaitOnAPausedTaskEndsItIncomplete) {
  AddConversion("long.avi", "stoppaused.avi", true);
  Enc.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return ProgressCount() >= 3; }, 20s));
  Enc.Pause();
  {
    test::TWatchdog dog("Stop(true) on a paused task", 30s);
    Enc.Stop(true);
  }
  EXPECT_TRUE(Enc.Task(0)->Finished);
  ASSERT_TRUE(PumpUntil([&] { return FinalSeen(); }, 10s));
  ASSERT_EQ(EndIndexes(), (std::vector<int>{0, -1}));
  EXPECT_FALSE(Ends[0].Completed);
  EXPECT_FALSE(Ends[0].Failed) << Ends[0].Message;
  // The file was finished: ffprobe reads its frames.
  int frames = Frames("stoppaused.avi");
  EXPECT_GT(frames, 0);
  EXPECT_LT(frames, 750);
}

TEST_F(TaskThreads, StopWithoutWaitReturnsAndTheEndFollows) {
  AddConversion("long.avi", "nowait.avi", true);
  Enc.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return ProgressCount() >= 1; }, 20s));
  Enc.Stop(false);
  ASSERT_TRUE(PumpUntil([&] { return FinalSeen(); }, 20s));
  EXPECT_FALSE(Ends[0].Completed);
}

TEST_F(TaskThreads, NeverStartedTasksEndOnceWhenStopped) {
  AddConversion("long.avi", "first.avi", true);
  AddConversion("short.avi", "never1.avi");
  AddConversion("short.avi", "never2.avi");
  Enc.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return ProgressCount() >= 1; }, 20s));
  {
    test::TWatchdog dog("Stop(true) with tasks never started", 30s);
    Enc.Stop(true);
  }
  ASSERT_TRUE(PumpUntil([&] { return FinalSeen(); }, 10s));
  PumpUntil([] { return false; }, 200ms);  // nothing more may come
  EXPECT_EQ(EndIndexes(), (std::vector<int>{0, 1, 2, -1}));
  for (const TEnd& e : Ends) {
    EXPECT_FALSE(e.Failed) << e.Index;
    if (e.Index >= 0) {
      EXPECT_FALSE(e.Completed) << e.Index;
    }
  }
  EXPECT_TRUE(Enc.Task(1)->Finished);
  EXPECT_EQ(Enc.Task(1)->Start(true), nullptr);  // a task runs at most once
}

TEST_F(TaskThreads, TerminatingANeverStartedTaskFiresOnceFromItsOwnThread) {
  TFFmpeg task(20, &Enc);
  ASSERT_TRUE(task.OpenInput(W(*Dir / "short.avi")));
  std::atomic<int> calls{0};
  std::atomic<std::uint32_t> thread{0};
  task.OnTerminate = [&](TCustomFFmpeg&) {
    ++calls;
    thread = CurrentThreadId();
  };
  task.Terminate(true);
  EXPECT_EQ(calls.load(), 1);
  EXPECT_NE(thread.load(), CurrentThreadId());
  EXPECT_TRUE(task.Finished);
  task.Terminate(true);
  EXPECT_EQ(calls.load(), 1);
}

TEST_F(TaskThreads, ATaskThatCannotStartReportsItsError) {
  int index = Enc.AddTask(W(*Dir / "short.avi"));  // no output
  ASSERT_EQ(index, 0) << Enc.LastError();
  AddConversion("short.avi", "second.avi");
  Enc.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return FinalSeen(); }));
  ASSERT_EQ(EndIndexes(), (std::vector<int>{0, 1, -1}));
  EXPECT_TRUE(Ends[0].Failed);
  EXPECT_EQ(Ends[0].Message, "At least one output file must be specified");
  EXPECT_TRUE(Ends[1].Completed);  // the failure did not keep the next task from running
  EXPECT_EQ(Frames("second.avi"), 25);
}

TEST_F(TaskThreads, MarshalledEventsRunOnTheMainThreadWhileTheWorkerWaits) {
  AddConversion("big.avi", "marshal.avi");  // as fast as it goes
  bool workerMoved = false;
  int checks = 0;
  Enc.OnProgress = [&](TObject*, PProgressInfo info) {
    ProgressOnMain.push_back(IsMainThread());
    if (info->InputIndex < 0 || checks >= 3) return;
    // The worker is blocked in this call: its frame count cannot move meanwhile.
    const auto& ost = Enc.Task(0)->OutputStreams();
    int before = ost.empty() ? 0 : ost[0].FrameNumber;
    std::this_thread::sleep_for(150ms);
    int after = ost.empty() ? 0 : ost[0].FrameNumber;
    workerMoved = workerMoved || before != after;
    ++checks;
  };
  Enc.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return FinalSeen(); }));
  EXPECT_EQ(checks, 3);
  EXPECT_FALSE(workerMoved);
  ASSERT_FALSE(ProgressOnMain.empty());
  for (bool onMain : ProgressOnMain) EXPECT_TRUE(onMain);
  for (const TEnd& e : Ends) EXPECT_TRUE(e.OnMain) << e.Index;
}

TEST_F(TaskThreads, WithoutMarshallingEventsRunOnOtherThreads) {
  Enc.TriggerEventInMainThread = false;
  AddConversion("short.avi", "direct.avi");
  Enc.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return FinalSeen(); }));
  std::lock_guard<std::mutex> lock(Lock);
  ASSERT_FALSE(ProgressOnMain.empty());
  for (bool onMain : ProgressOnMain) EXPECT_FALSE(onMain);
  for (const TEnd& e : Ends) EXPECT_FALSE(e.OnMain) << e.Index;
}

TEST_F(TaskThreads, StopWithWaitOnTheMainThreadRunsTheWaitingEvent) {
  AddConversion("long.avi", "nodeadlock.avi", true);
  Enc.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return ProgressCount() >= 1; }, 20s));
  // Not pumping for a while: the worker's next report is now waiting for this thread.
  std::this_thread::sleep_for(500ms);
  size_t before = ProgressCount();
  {
    test::TWatchdog dog("Stop(true) against a marshalled progress event", 30s);
    Enc.Stop(true);
  }
  EXPECT_GT(ProgressCount(), before) << "the waiting report did not run during Stop";
  ASSERT_TRUE(PumpUntil([&] { return FinalSeen(); }, 10s));
  EXPECT_FALSE(Ends[0].Completed);
  EXPECT_GT(Frames("nodeadlock.avi"), 0);
}

TEST_F(TaskThreads, TheFinalEventMayClearTheTasksWhileStopWaitsForThem) {
  AddConversion("long.avi", "cleared.avi", true);
  // The worker is slow to come back from reporting its end: the events reach this thread while
  // Stop(true) still waits here for the task the final event's handler frees.
  TFFmpeg* task = Enc.Task(0);
  task->OnTerminate = [end = task->OnTerminate](TCustomFFmpeg& sender) {
    end(sender);
    std::this_thread::sleep_for(300ms);
  };
  Enc.OnTerminate = [&, ends = Enc.OnTerminate.Load()](TObject* sender, const TTerminateInfo& info) {
    ends(sender, info);
    if (info.TaskIndex == -1) Enc.ClearTasks();
  };
  Enc.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return ProgressCount() >= 1; }, 20s));
  {
    test::TWatchdog dog("Stop(true) whose final event clears the tasks", 30s);
    Enc.Stop(true);
  }
  EXPECT_EQ(EndIndexes(), (std::vector<int>{0, -1})) << "both events ran during the wait";
  EXPECT_EQ(Enc.TaskCount(), 0);
  EXPECT_FALSE(Enc.Working());
  EXPECT_GT(Frames("cleared.avi"), 0);
}

// While it lives, no thread can be started in this process: every new thread's default stack is
// larger than the address space.
class TNoNewThreads {
 public:
  TNoNewThreads() {
    pthread_getattr_default_np(&Saved);
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, size_t(1) << 50);
    pthread_setattr_default_np(&huge);
    pthread_attr_destroy(&huge);
  }
  ~TNoNewThreads() {
    pthread_setattr_default_np(&Saved);
    pthread_attr_destroy(&Saved);
  }

 private:
  pthread_attr_t Saved;
};

TEST_F(TaskThreads, EventsWithoutAThreadOfTheirOwnAreStillHandedOverInOrder) {
  AddConversion("long.avi", "nothreads.avi", true);
  Enc.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return ProgressCount() >= 1; }, 20s));
  test::TWatchdog dog("a run whose terminate events get no thread", 30s);
  {
    TNoNewThreads noThreads;
    Enc.Stop(true);
    ASSERT_TRUE(PumpUntil([&] { return FinalSeen(); }, 10s));
  }
  EXPECT_EQ(EndIndexes(), (std::vector<int>{0, -1}));
  for (const TEnd& e : Ends) EXPECT_TRUE(e.OnMain) << e.Index;
  EXPECT_TRUE(Enc.TerminateDelivered());
}

TEST_F(TaskThreads, FreeingTheComponentWhileATaskRunsStopsItWithoutEvents) {
  auto enc = std::make_unique<TFFEncoder>();
  enc->SetProgressInterval(100);
  std::atomic<int> ends{0}, reports{0};
  enc->OnTerminate = [&](TObject*, const TTerminateInfo&) { ++ends; };
  enc->OnProgress = [&](TObject*, PProgressInfo) { ++reports; };
  TInputOptions in;
  in.ExtOptions = "re";
  ASSERT_EQ(enc->AddTask(W(*Dir / "long.avi"), in), 0) << enc->LastError();
  TOutputOptions o;
  o.VideoCodec = "mpeg4";
  ASSERT_TRUE(enc->SetOutputFile(0, W(*Dir / "freed.avi"), o)) << enc->LastError();
  enc->StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return reports >= 1; }, 20s));
  std::this_thread::sleep_for(300ms);  // a report waits for this thread
  {
    test::TWatchdog dog("freeing a running component", 30s);
    enc.reset();
  }
  PumpUntil([] { return false; }, 200ms);
  EXPECT_EQ(ends.load(), 0);
  EXPECT_GT(Frames("freed.avi"), 0);
}

}  // namespace
}  // namespace qv
