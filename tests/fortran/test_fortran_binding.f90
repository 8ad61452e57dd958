! SPDX-License-Identifier: BSD-3-Clause
! The Fortran interfaces reach the C entries with the right argument order,
! kinds and passing conventions: results must match the C library bit for bit
! and the array entry's failure contract must show through.
program test_fortran_binding
  use libtrueanomaly
  use, intrinsic :: iso_c_binding, only: c_int64_t
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

  ! The module procedure takes the sizes from the arrays...
  nu = untouched
  status = trueanomaly_convert(m, 0.99_c_float, nu, 100, 0)
  call expect_status('convert status', status, 0)
  call expect_bits('convert(2)', nu(2), -3.07858443_c_float)
  call expect_bits('convert(4)', nu(4), 2.99281645_c_float)
  ! ... refuses an output smaller than the input, touching nothing ...
  nu = untouched
  status = trueanomaly_convert(m, 0.5_c_float, nu(1:3), 100, 0)
  call expect_status('short output status', status, trueanomaly_invalid_argument)
  call expect_bits('short output untouched', nu(1), untouched)
  ! ... keeps the failure contract ...
  nu = untouched
  status = trueanomaly_convert(hard, 0.99_c_float, nu, 2, 0)
  call expect_status('failing convert status', status, -1)
  call expect_bits('failing convert(2)', nu(2), 3.11935544_c_float)
  call expect_bits('failing convert(3) untouched', nu(3), untouched)
  call expect_bits('failing convert(5) untouched', nu(5), untouched)
  ! ... and takes strided sections.
  nu = untouched
  status = trueanomaly_convert(m(1:5:2), 0.5_c_float, nu(2:4), 100, 0)
  call expect_status('strided status', status, 0)
  call expect_bits('strided(1)', nu(2), trueanomaly(m(1), 0.5_c_float, 100_c_int32_t, 0_c_int32_t))
  call expect_bits('strided(3)', nu(4), trueanomaly(m(5), 0.5_c_float, 100_c_int32_t, 0_c_int32_t))
  call expect_bits('strided: nu(1) untouched', nu(1), untouched)
  call expect_bits('strided: nu(5) untouched', nu(5), untouched)

  call check_elemental()
  call check_double_precision()

  if (failures > 0) error stop 1
  print '(a)', 'fortran binding: all checks passed'

contains

  ! The elemental form over a 2 x 3 array with an eccentricity per element
  ! gives the scalar entry's result for each.
  subroutine check_elemental()
    real(c_float) :: grid(2, 3), ecc(2, 3), got(2, 3)
    integer :: i, j
    grid = reshape([1.0, -1.55, 7.0, 0.5, 3.0, 0.2], [2, 3])
    ecc = reshape([0.5, 0.99, 0.0, 0.9, 0.1, 0.99], [2, 3])
    got = true_anomaly(grid, ecc, 100, 0)
    do j = 1, 3
      do i = 1, 2
        call expect_bits('elemental', got(i, j), trueanomaly(grid(i, j), ecc(i, j), &
                         100_c_int32_t, 0_c_int32_t))
      end do
    end do
    call expect_bits('elemental scalar', true_anomaly(1.0_c_float, 0.5_c_float, 100, 0), &
                     2.0993011_c_float)
    call expect_bits('elemental limit', true_anomaly(0.5_c_float, 0.99_c_float, 3, 1), -1.0_c_float)
  end subroutine check_elemental

  ! real(kind=8) through the generic names: rounded to single precision as
  ! the C entries take their arguments, results widened exactly and of the
  ! mean anomalies' kind, the failure contract unchanged.
  subroutine check_double_precision()
    real(c_double), parameter :: kept = -12345.678901234d0  ! not a single precision value
    real(c_double) :: md(5), nud(5), hardd(4)
    integer :: i
    md = [1.0d0, -1.55d0, 7.000000001d0, 0.3d0, 3.0d0]
    hardd = real(hard, c_double)
    nud = true_anomaly(md, 0.5d0, 100, 0)
    do i = 1, 5
      call expect_bits_dp('elemental, double', nud(i), real(trueanomaly(real(md(i), c_float), &
                          0.5_c_float, 100_c_int32_t, 0_c_int32_t), c_double))
    end do
    if (kind(true_anomaly(md(1), 0.5, 100, 0)) /= c_double .or. &
        kind(true_anomaly(1.0, 0.5d0, 100, 0)) /= c_float) then
      print '(a)', 'results do not have the mean anomalies'' kind'
      failures = failures + 1
    end if
    call expect_bits_dp('elemental, double M, single e', true_anomaly(md(2), 0.99, 100, 0), &
                        real(-3.07858443_c_float, c_double))
    call expect_bits('elemental, single M, double e', true_anomaly(1.0, 0.5d0, 100, 0), &
                     2.0993011_c_float)

    nud = kept
    status = trueanomaly_convert(md, 0.5d0, nud, 100, 0)
    call expect_status('convert, double', status, 0)
    do i = 1, 5
      call expect_bits_dp('convert, double', nud(i), real(trueanomaly(real(md(i), c_float), &
                          0.5_c_float, 100_c_int32_t, 0_c_int32_t), c_double))
    end do
    nud = kept
    status = trueanomaly_convert(hardd, 0.99, nud, 2, 0)
    call expect_status('failing convert, double', status, -1)
    call expect_bits_dp('failing convert, double (2)', nud(2), real(3.11935544_c_float, c_double))
    call expect_bits_dp('failing convert, double (3) kept', nud(3), kept)
    call expect_bits_dp('failing convert, double (5) kept', nud(5), kept)
    status = trueanomaly_convert(md, 0.5d0, nud(1:4), 100, 0)
    call expect_status('short output, double', status, trueanomaly_invalid_argument)
    call expect_bits_dp('short output, double: kept', nud(3), kept)
  end subroutine check_double_precision

  subroutine expect_bits_dp(what, got, want)
    character(*), intent(in) :: what
    real(c_double), intent(in) :: got, want
    if (transfer(got, 0_c_int64_t) /= transfer(want, 0_c_int64_t)) then
      print '(a, a, es24.16, a, es24.16)', what, ': got', got, ', want', want
      failures = failures + 1
    end if
  end subroutine expect_bits_dp

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
