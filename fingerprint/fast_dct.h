// Unnormalised DCT-II in place: X[k] = sum_n x[n] cos(pi k (2n + 1) / (2 len)), then X[0] is
// multiplied by 1/sqrt(2). Backed by the single-precision REDFT10 transform of FFTW; one plan
// per length is made once per process, under a lock (planning is not thread-safe), and shared by
// every instance. Executing a shared plan on an instance's own buffer is thread-safe.
#pragma once

#include <cstddef>
#include <memory>
#include <span>

namespace pelk::fingerprint {

class FastDct {
 public:
  // Null when the plan or the buffer cannot be made. REQUIRES: length > 0.
  static std::unique_ptr<FastDct> Create(size_t length);
  ~FastDct();

  FastDct(const FastDct&) = delete;
  FastDct& operator=(const FastDct&) = delete;

  // The transform buffer (aligned for the transform): fill it with the samples, call
  // Transform(), read the coefficients from it.
  std::span<float> data() { return {buffer_, length_}; }
  void Transform();

 private:
  FastDct(size_t length, void* plan, float* buffer)
      : length_(length), plan_(plan), buffer_(buffer) {}

  size_t length_;
  void* plan_;  // fftwf_plan, owned by the process-wide plan table
  float* buffer_;
};

}  // namespace pelk::fingerprint
