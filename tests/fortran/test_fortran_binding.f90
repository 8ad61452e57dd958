! The Fortran interfaces reach the C entries with the right argument order,
! kinds and passing conventions: results must match the C library bit for bit
! and the array entry's failure contract must show through.
program test_fortran_binding
  use libtrueanomaly
  implicit none
  integer :: failures = 0
  real(c_float), parameter :: untouched = -12345.5
  real(c_float) :: hard(4) = [2.0, 2.5, 0.2, 1.0]
  real(c_float) :: m(5) = [1.0, -1.55, 7.0, 0.5, 3.0]
  real(c_float) :: nu(5), nu1(1)
  integer(c_int32_t) :: status

  ! Swapping two floats or two integers would change these.
  call expect_bits('scalar M=1 e=0.5', trueanomaly(1.0_c_float, 0.5_c_float, 100_c_int32_t, &
                   0_c_int32_t), 2.0993011_c_float)
  call expect_bits('scalar M=1 e=0.9 limit 2 tol 1', trueanomaly(1.0_c_float, 0.9_c_float, &
                   2_c_int32_t, 1_c_int32_t), 2.98286128_c_float)

  status = trueanomaly_array(m, size(m, kind=c_int32_t), 0.99_c_float, nu, 100_c_int32_t, &
                             0_c_int32_t)
  call expect_status('array status', status, 0)
  call expect_bits('array(2) M=-1.55 e=0.99', nu(2), -3.07858443_c_float)
  call expect_bits('array(4) M=0.5 e=0.99', nu(4), 2.99281645_c_float)

  nu = untouched
  status = trueanomaly_array(hard, size(hard, kind=c_int32_t), 0.99_c_float, nu, 2_c_int32_t, &
                             0_c_int32_t)
  call expect_status('failing array status', status, -1)
  call expect_bits('failing array(1)', nu(1), 3.10508943_c_float)
  call expect_bits('failing array(2)', nu(2), 3.11935544_c_float)
  call expect_bits('failing array(3) untouched', nu(3), untouched)
  call expect_bits('failing array(4) untouched', nu(4), untouched)

  ! A count of 1 tells a true anomaly of -1 radian apart from failure.
  status = trueanomaly_array([-1.0_c_float], 1_c_int32_t, 0.0_c_float, nu1, 100_c_int32_t, &
                             0_c_int32_t)
  call expect_status('count 1 status', status, 0)
  call expect_bits('count 1 result', nu1(1), -1.0_c_float)

  if (failures > 0) error stop 1
  print '(a)', 'fortran binding: all checks passed'

contains

  subroutine expect_bits(what, got, want)
    character(*), intent(in) :: what
    real(c_float), intent(in) :: got, want
    if (transfer(got, 0_c_int32_t) /= transfer(want, 0_c_int32_t)) then
      print '(a, a, es16.8, a, es16.8)', what, ': got', got, ', want', want
      failures = failures + 1
    end if
  end subroutine expect_bits

  subroutine expect_status(what, got, want)
    character(*), intent(in) :: what
    integer(c_int32_t), intent(in) :: got
    integer, intent(in) :: want
    if (got /= want) then
      print '(a, a, i0, a, i0)', what, ': got ', got, ', want ', want
      failures = failures + 1
    end if
  end subroutine expect_status

end program test_fortran_binding
