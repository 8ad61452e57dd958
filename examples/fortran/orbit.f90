! SPDX-License-Identifier: BSD-3-Clause
! Converts mean anomalies to true anomalies from Fortran: whole arrays with
! the sizes taken from them, elementally over a small catalogue with one
! eccentricity per body, in double precision too, and shows how a failed
! conversion is reported.
program orbit
  use libtrueanomaly
  implicit none
  real(c_float) :: mean(4) = [0.5, 1.0, 2.0, 3.0]
  real(c_float) :: nu(4)
  real(c_float) :: hard(4) = [2.0, 2.5, 0.2, 1.0]
  real(c_float) :: bodies(3) = [1.0, 1.0, 1.0], ecc(3) = [0.1, 0.5, 0.9]
  real(kind=8) :: mean_dp(2) = [0.5d0, 1.0d0]
  integer(c_int32_t) :: status

  status = trueanomaly_convert(mean, 0.5, nu, 100, 0)
  print '(a, i3, a, 4f12.8)', 'e = 0.5:          status', status, ', nu =', nu

  ! Element 3 needs a second step and the limit of 2 allows only one: the
  ! call stops there with -1, leaving nu(3:4) as they were (zero here).
  nu = 0
  status = trueanomaly_convert(hard, 0.99, nu, 2, 0)
  print '(a, i3, a, 4f12.8)', 'e = 0.99, limit 2: status', status, ', nu =', nu

  ! One eccentricity per body (-1.0 would mean the limit was reached).
  print '(a, 3f12.8)', 'M = 1, e = 0.1, 0.5, 0.9:   ', true_anomaly(bodies, ecc, 100, 0)

  ! real(kind=8) in, real(kind=8) out: the single precision result widened.
  print '(a, 2f20.16)', 'double, e = 0.5:  ', true_anomaly(mean_dp, 0.5d0, 100, 0)
end program orbit
