! Converts mean anomalies to true anomalies from Fortran, one value and an
! array at a time, and shows how a failed array conversion is reported.
program orbit
  use libtrueanomaly
  implicit none
  real(c_float) :: mean(4) = [0.5, 1.0, 2.0, 3.0]
  real(c_float) :: nu(4)
  real(c_float) :: hard(4) = [2.0, 2.5, 0.2, 1.0]
  integer(c_int32_t) :: status

  print '(a, f12.8)', 'M = 1, e = 0.5:          ', &
      trueanomaly(1.0_c_float, 0.5_c_float, 100_c_int32_t, 0_c_int32_t)

  status = trueanomaly_array(mean, size(mean, kind=c_int32_t), 0.5_c_float, nu, &
                             100_c_int32_t, 0_c_int32_t)
  print '(a, i3, a, 4f12.8)', 'e = 0.5:     status', status, ', nu =', nu

  ! Element 3 needs a second step and the limit of 2 allows only one: the call
  ! stops there with -1, leaving nu(3:4) as they were (zero here).
  nu = 0
  status = trueanomaly_array(hard, size(hard, kind=c_int32_t), 0.99_c_float, nu, &
                             2_c_int32_t, 0_c_int32_t)
  print '(a, i3, a, 4f12.8)', 'e = 0.99, limit 2: status', status, ', nu =', nu
end program orbit
