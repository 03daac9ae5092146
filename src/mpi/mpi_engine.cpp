#include "mpi/mpi_engine.h"

#include <mpi.h>

#include <chrono>
#include <cstring>
#include <atomic>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>

#include "model/fatal_error.h"
#include "model/world_state.h"
#include "run/replicate_state.h"

namespace talveron::mpi {
namespace {

// A replicate's text comes back as pieces while it runs (kPiece) and the
// rest with its record (kResult, empty when it was given up on a stop).
enum Tag : int { kTask = 1, kPiece = 2, kResult = 3, kStop = 4, kQuit = 5, kFailure = 6 };

// A replicate to run: its number, whether it is traced, and its series'
// plan as a saved state writes it (replicate_state.h).
std::string EncodeTask(const SeriesPlan& plan, long replicate, bool trace) {
  StateWriter out;
  out.I64(replicate);
  out.Bool(trace);
  WritePlan(out, plan);
  return out.Take();
}

struct Task {
  long replicate = 0;
  bool trace = false;
  SeriesPlan plan;
};

Task DecodeTask(const std::string& buffer) {
  StateReader in(buffer, "a task from rank 0");
  Task task;
  task.replicate = static_cast<long>(in.I64("the replicate"));
  task.trace = in.Bool("whether the replicate is traced");
  task.plan = ReadPlan(in);
  return task;
}

struct PieceHead {
  long replicate;
  int finished;
  int firstSpanCompleted;
  SpanSums firstSpan;
  SpanSums lastSpan;
  std::uint64_t seed;
  std::uint64_t draws;
  double seconds;
  std::uint64_t dataSize;
  std::uint64_t traceSize;
  std::uint64_t messages;
};

template <typename T>
void Put(std::string& buffer, const T& value) {
  buffer.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T>
T Take(const std::string& buffer, std::size_t& at) {
  if (at + sizeof(T) > buffer.size()) throw std::runtime_error("a truncated message from a rank");
  T value;
  std::memcpy(&value, buffer.data() + at, sizeof value);
  at += sizeof value;
  return value;
}

std::string Text(const std::string& buffer, std::size_t& at, std::size_t size) {
  if (at + size > buffer.size()) throw std::runtime_error("a truncated message from a rank");
  std::string text = buffer.substr(at, size);
  at += size;
  return text;
}

std::string Encode(const ReplicatePiece& piece) {
  std::string buffer;
  const PieceHead head{piece.replicate, piece.finished ? 1 : 0, piece.firstSpanCompleted ? 1 : 0,
                       piece.firstSpan, piece.lastSpan, piece.seed, piece.draws, piece.seconds,
                       piece.data.size(), piece.trace.size(), piece.messages.size()};
  Put(buffer, head);
  buffer += piece.data;
  buffer += piece.trace;
  for (const auto& [message, count] : piece.messages) {
    Put(buffer, static_cast<std::uint64_t>(message.size()));
    Put(buffer, count);
    buffer += message;
  }
  // Genotype samples: their number, then each one's generation, number of
  // adults and the adults' records.
  Put(buffer, static_cast<std::uint64_t>(piece.samples.size()));
  for (const GenotypeSample& sample : piece.samples) {
    Put(buffer, sample.generation);
    Put(buffer, static_cast<std::uint64_t>(sample.adults.size()));
    buffer.append(reinterpret_cast<const char*>(sample.adults.data()), sample.adults.size() * sizeof(Individ));
  }
  return buffer;
}

ReplicatePiece Decode(const std::string& buffer) {
  std::size_t at = 0;
  const auto head = Take<PieceHead>(buffer, at);
  ReplicatePiece piece;
  piece.replicate = head.replicate;
  piece.finished = head.finished != 0;
  piece.firstSpanCompleted = head.firstSpanCompleted != 0;
  piece.firstSpan = head.firstSpan;
  piece.lastSpan = head.lastSpan;
  piece.seed = head.seed;
  piece.draws = head.draws;
  piece.seconds = head.seconds;
  piece.data = Text(buffer, at, head.dataSize);
  piece.trace = Text(buffer, at, head.traceSize);
  for (std::uint64_t m = 0; m < head.messages; ++m) {
    const auto size = Take<std::uint64_t>(buffer, at);
    const auto count = Take<long>(buffer, at);
    piece.messages[Text(buffer, at, size)] = count;
  }
  static_assert(std::is_trivially_copyable_v<Individ>);
  const auto samples = Take<std::uint64_t>(buffer, at);
  for (std::uint64_t s = 0; s < samples; ++s) {
    GenotypeSample sample;
    sample.generation = Take<long>(buffer, at);
    const auto adults = Take<std::uint64_t>(buffer, at);
    const std::string bytes = Text(buffer, at, adults * sizeof(Individ));
    sample.adults.resize(adults);
    if (adults > 0) std::memcpy(sample.adults.data(), bytes.data(), bytes.size());
    piece.samples.push_back(std::move(sample));
  }
  return piece;
}

// Waits for a message without spinning a core, and takes it whole.
std::string Receive(int source, int tag, MPI_Status* status) {
  MPI_Status probed;
  for (int arrived = 0;;) {
    MPI_Iprobe(source, tag, MPI_COMM_WORLD, &arrived, &probed);
    if (arrived) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  int size = 0;
  MPI_Get_count(&probed, MPI_BYTE, &size);
  std::string buffer(static_cast<std::size_t>(size), '\0');
  MPI_Recv(buffer.data(), size, MPI_BYTE, probed.MPI_SOURCE, probed.MPI_TAG, MPI_COMM_WORLD, status);
  return buffer;
}

void Send(const std::string& buffer, int tag) {
  MPI_Send(buffer.data(), static_cast<int>(buffer.size()), MPI_BYTE, 0, tag, MPI_COMM_WORLD);
}

int Size() {
  int size = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  return size;
}

// Rank 0's view of the other ranks, from one run of replicates to the end.
struct Job {
  std::size_t series;
  long replicate;
};
struct Rank {
  std::optional<Job> job;  // the replicate it runs
  bool stopSent = false;
};
std::vector<Rank> gRanks;

bool AnyBusy() {
  for (const Rank& rank : gRanks) {
    if (rank.job) return true;
  }
  return false;
}

// Asks every rank that runs a replicate to give it up.
void StopBusy() {
  for (std::size_t r = 1; r < gRanks.size(); ++r) {
    Rank& rank = gRanks[r];
    if (!rank.job || rank.stopSent) continue;
    MPI_Send(nullptr, 0, MPI_BYTE, static_cast<int>(r), kStop, MPI_COMM_WORLD);
    rank.stopSent = true;
  }
}

}  // namespace

// A stop or a failure returns at once, so that rank 0 can keep what is
// complete and say so even while a rank is lost; what the others still
// send is taken and dropped by ReleaseRanks.
void RunOnRanks(const std::vector<SeriesWriter*>& series, const RunOptions& options, RunCounters* counters) {
  const int ranks = Size();
  if (ranks < 2) {
    RunSeriesInParallel(series, options, counters);
    return;
  }
  gRanks.assign(static_cast<std::size_t>(ranks), Rank{});
  std::deque<Job> jobs;
  for (std::size_t s = 0; s < series.size(); ++s) {
    series[s]->stop = options.stop;
    // mpirun ends rank 0 with SIGKILL a second after SIGTERM when a rank is
    // lost: a file that grew piece by piece with the running replicate would
    // be cut inside a line.
    series[s]->HoldWholeReplicates();
    for (long r = 1; r <= series[s]->plan().replicates; ++r) jobs.push_back({s, r});
  }
  auto stopped = [&] { return options.stop != nullptr && options.stop->load(); };
  // As in one process: replicates handed out but not yet written stay
  // within a window, so that rank 0 holds few finished replicates behind a
  // slow one; the ranks beyond it wait.
  const long long window = HeldWindow(ranks);
  long long given = 0;
  std::mutex jobsMutex;  // jobs and given: rank 0's own replicates take from them too
  auto written = [&] {
    long long count = 0;
    for (const SeriesWriter* writer : series) count += writer->recordsWritten();
    return count;
  };
  auto take = [&]() -> std::optional<Job> {
    std::lock_guard lock(jobsMutex);
    if (jobs.empty() || stopped() || given - written() >= window) return std::nullopt;
    ++given;
    const Job job = jobs.front();
    jobs.pop_front();
    return job;
  };
  auto give = [&](int rank) {
    const std::optional<Job> job = take();
    if (!job) return;
    const SeriesWriter& writer = *series[job->series];
    const std::string task = EncodeTask(writer.plan(), job->replicate, writer.traceFile() != nullptr);
    MPI_Send(task.data(), static_cast<int>(task.size()), MPI_BYTE, rank, kTask, MPI_COMM_WORLD);
    gRanks[static_cast<std::size_t>(rank)].job = *job;
  };

  // Rank 0 runs replicates as well, on a thread beside this one, which
  // alone talks to the other ranks: `mpirun -n K` computes on K ranks.
  std::atomic<bool> quit{false};
  std::atomic<bool> ownDone{false};
  std::exception_ptr ownFailure;
  std::thread own([&] {
    try {
      while (!quit && !stopped()) {
        const std::optional<Job> job = take();
        if (!job) {
          {
            std::lock_guard lock(jobsMutex);
            if (jobs.empty()) break;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
          continue;
        }
        SeriesWriter& writer = *series[job->series];
        ReplicateRun run(writer.plan(), job->replicate, writer.traced());
        run.HandOnSamples();
        while (!run.Done() && !quit && !stopped()) {
          run.RunGeneration();
          if (counters != nullptr) ++counters->generations;
          if (run.BufferedBytes() > options.bufferLimit && !run.Done()) writer.Deliver(run.TakePiece());
        }
        if (!run.Done()) break;
        writer.Deliver(run.TakePiece());
      }
    } catch (...) {
      ownFailure = std::current_exception();
    }
    ownDone = true;
  });
  auto joinOwn = [&] {
    quit = true;
    own.join();
  };

  try {
    for (int rank = 1; rank < ranks; ++rank) give(rank);
    auto lastTick = std::chrono::steady_clock::now();
    while (AnyBusy() || !ownDone) {
      if (stopped()) {
        StopBusy();
        joinOwn();
        return;
      }
      if (ownDone && ownFailure) std::rethrow_exception(ownFailure);
      // Ranks left waiting by the window, now that it may have moved.
      for (int r = 1; r < ranks; ++r) {
        if (!gRanks[static_cast<std::size_t>(r)].job) give(r);
      }
      int arrived = 0;
      MPI_Status status;
      MPI_Iprobe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &arrived, &status);
      if (!arrived) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const auto now = std::chrono::steady_clock::now();
        if (options.tick && now - lastTick > std::chrono::duration<double>(options.tickSeconds)) {
          options.tick();
          lastTick = now;
        }
        continue;
      }
      const int from = status.MPI_SOURCE;
      const std::string buffer = Receive(from, status.MPI_TAG, &status);
      Rank& rank = gRanks[static_cast<std::size_t>(from)];
      const std::optional<Job> job = rank.job;
      if (status.MPI_TAG == kPiece) {
        if (job) series[job->series]->Deliver(Decode(buffer));
        continue;
      }
      rank.job.reset();
      if (status.MPI_TAG == kFailure) {
        StopBusy();
        throw FatalError(buffer);
      }
      if (buffer.empty() || !job) continue;  // a replicate given up on a stop
      if (counters != nullptr) counters->generations += series[job->series]->plan().generations;
      series[job->series]->Deliver(Decode(buffer));
      give(from);
    }
  } catch (...) {
    StopBusy();
    joinOwn();
    throw;
  }
  joinOwn();
  if (ownFailure) std::rethrow_exception(ownFailure);
}

void ServeReplicates() {
  const std::size_t pieceBytes = RunOptions{}.bufferLimit;
  for (;;) {
    MPI_Status status;
    const std::string buffer = Receive(0, MPI_ANY_TAG, &status);
    if (status.MPI_TAG == kQuit) return;
    if (status.MPI_TAG != kTask) continue;  // a stop that crossed a finished replicate
    try {
      const Task task = DecodeTask(buffer);
      ReplicateRun run(task.plan, task.replicate, task.trace);
      run.HandOnSamples();
      bool stop = false;
      while (!run.Done() && !stop) {
        run.RunGeneration();
        int flag = 0;
        MPI_Iprobe(0, kStop, MPI_COMM_WORLD, &flag, MPI_STATUS_IGNORE);
        if (flag) {
          MPI_Recv(nullptr, 0, MPI_BYTE, 0, kStop, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
          stop = true;
        } else if (!run.Done() && run.BufferedBytes() > pieceBytes) {
          // The text goes to rank 0 as it grows: neither rank holds it all.
          Send(Encode(run.TakePiece()), kPiece);
        }
      }
      Send(stop ? std::string() : Encode(run.TakePiece()), kResult);
    } catch (const std::exception& error) {
      Send(error.what(), kFailure);
    }
  }
}

void ReleaseRanks() {
  StopBusy();
  while (AnyBusy()) {
    MPI_Status status;
    Receive(MPI_ANY_SOURCE, MPI_ANY_TAG, &status);
    if (status.MPI_TAG == kResult || status.MPI_TAG == kFailure) {
      gRanks[static_cast<std::size_t>(status.MPI_SOURCE)].job.reset();
    }
  }
  const int ranks = Size();
  for (int rank = 1; rank < ranks; ++rank) MPI_Send(nullptr, 0, MPI_BYTE, rank, kQuit, MPI_COMM_WORLD);
}

}  // namespace talveron::mpi
