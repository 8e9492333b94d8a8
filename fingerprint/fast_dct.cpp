#include "fingerprint/fast_dct.h"

#include <fftw3.h>

#include <cmath>
#include <map>
#include <mutex>

namespace pelk::fingerprint {
namespace {

std::mutex plan_lock;

// In-place plans, made on a scratch buffer with the alignment fftwf_malloc gives every buffer
// (required for executing a plan on another array). Kept for the life of the process.
fftwf_plan PlanFor(size_t length) {
  static std::map<size_t, fftwf_plan>* plans = new std::map<size_t, fftwf_plan>;
  std::lock_guard<std::mutex> guard(plan_lock);
  auto it = plans->find(length);
  if (it != plans->end()) return it->second;
  float* scratch = static_cast<float*>(fftwf_malloc(length * sizeof(float)));
  if (scratch == nullptr) return nullptr;
  // Estimated plans: measuring would cost more time on the first fingerprint than it saves.
  fftwf_plan plan =
      fftwf_plan_r2r_1d(static_cast<int>(length), scratch, scratch, FFTW_REDFT10, FFTW_ESTIMATE);
  fftwf_free(scratch);
  if (plan != nullptr) plans->emplace(length, plan);
  return plan;
}

}  // namespace

std::unique_ptr<FastDct> FastDct::Create(size_t length) {
  if (length == 0 || length > (size_t{1} << 28)) return nullptr;
  fftwf_plan plan = PlanFor(length);
  if (plan == nullptr) return nullptr;
  float* buffer = static_cast<float*>(fftwf_malloc(length * sizeof(float)));
  if (buffer == nullptr) return nullptr;
  return std::unique_ptr<FastDct>(new FastDct(length, plan, buffer));
}

FastDct::~FastDct() { fftwf_free(buffer_); }

void FastDct::Transform() {
  fftwf_execute_r2r(static_cast<fftwf_plan>(plan_), buffer_, buffer_);
  // REDFT10 gives twice the unnormalised sum.
  for (size_t k = 0; k < length_; ++k) buffer_[k] *= 0.5f;
  buffer_[0] *= static_cast<float>(1.0 / std::sqrt(2.0));
}

}  // namespace pelk::fingerprint
