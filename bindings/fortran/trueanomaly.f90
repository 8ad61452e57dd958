! SPDX-License-Identifier: BSD-3-Clause
! libtrueanomaly for Fortran 2008 and later. Compile this file with your
! program (installed as share/trueanomaly/fortran/trueanomaly.f90) and link
! -ltrueanomaly.
!
!   use libtrueanomaly
!   status = trueanomaly_convert(m, 0.5, nu, 100, 0)   ! arrays, sizes from the arrays
!   nu2d = true_anomaly(m2d, e2d, 100, 0)              ! elemental, any rank
!
! Both are generic: mean anomalies and eccentricities may be default real
! (real(c_float)) or real(kind=8) (real(c_double)), in any combination; the
! results have the mean anomalies' kind. Double precision values are
! rounded to single precision, as the C entries take their arguments, and
! the single precision result is widened exactly.
!
! trueanomaly_convert(mean_anomalies, eccentricity, true_anomalies,
!     max_iterations, tolerance) converts size(mean_anomalies) elements and
!   returns 0; -1 at the first element that reaches the iteration limit (it
!   and every later element of true_anomalies keep what they held); or -2,
!   reading and writing nothing, when true_anomalies is smaller than
!   mean_anomalies or the size does not fit a 32-bit count. Array sections
!   with strides are fine (the compiler passes a contiguous copy).
! true_anomaly(mean_anomaly, eccentricity, max_iterations, tolerance) is
!   elemental: scalars, or arrays of any rank and matching shape, each element
!   with its own eccentricity if you like. Like the C scalar entry it gives
!   -1.0 where the limit is reached, which is also the true anomaly of, for
!   example, M = -1 and e = 0: use trueanomaly_convert where that matters.
!
! The two C entries are declared too (trueanomaly, trueanomaly_array); with
! them the caller passes the count and must make both arrays hold at least
! that many elements. Results, the tolerance in whole radians and the
! iteration limit are those of trueanomaly.h. Do not pass one array as both
! input and output (Fortran forbids that aliasing); copy it instead.
module libtrueanomaly
  use, intrinsic :: iso_c_binding, only: c_double, c_float, c_int32_t
  implicit none
  private
  public :: trueanomaly, trueanomaly_array, trueanomaly_convert, true_anomaly
  public :: c_double, c_float, c_int32_t

  ! trueanomaly_convert's status when it refuses its arguments.
  integer(c_int32_t), parameter, public :: trueanomaly_invalid_argument = -2_c_int32_t

  interface
    ! The C scalar entry is pure: no state, no I/O, nothing but its result.
    pure function trueanomaly(mean_anomaly, eccentricity, max_iterations, tolerance) &
        bind(C, name="trueanomaly") result(true_anomaly)
      import :: c_float, c_int32_t
      real(c_float), value :: mean_anomaly, eccentricity
      integer(c_int32_t), value :: max_iterations, tolerance
      real(c_float) :: true_anomaly
    end function trueanomaly

    function trueanomaly_array(mean_anomalies, count, eccentricity, true_anomalies, &
        max_iterations, tolerance) bind(C, name="trueanomaly_array") result(status)
      import :: c_float, c_int32_t
      real(c_float), intent(in) :: mean_anomalies(*)
      integer(c_int32_t), value :: count
      real(c_float), value :: eccentricity
      real(c_float), intent(inout) :: true_anomalies(*)
      integer(c_int32_t), value :: max_iterations, tolerance
      integer(c_int32_t) :: status
    end function trueanomaly_array
  end interface

  ! The mean anomalies' kind, then the eccentricity's: s single, d double.
  interface trueanomaly_convert
    module procedure convert_ss, convert_sd, convert_ds, convert_dd
  end interface trueanomaly_convert

  interface true_anomaly
    module procedure true_anomaly_ss, true_anomaly_sd, true_anomaly_ds, true_anomaly_dd
  end interface true_anomaly

contains

  function convert_ss(mean_anomalies, eccentricity, true_anomalies, &
      max_iterations, tolerance) result(status)
    real(c_float), intent(in) :: mean_anomalies(:)
    real(c_float), intent(in) :: eccentricity
    real(c_float), intent(inout) :: true_anomalies(:)
    integer, intent(in) :: max_iterations, tolerance
    integer(c_int32_t) :: status
    integer, parameter :: i8 = selected_int_kind(18)
    integer(i8) :: n
    n = size(mean_anomalies, kind=i8)
    status = trueanomaly_invalid_argument
    if (size(true_anomalies, kind=i8) < n .or. n > int(huge(0_c_int32_t), i8)) return
    if (int(max_iterations, i8) /= int(int(max_iterations, c_int32_t), i8) .or. &
        int(tolerance, i8) /= int(int(tolerance, c_int32_t), i8)) return
    status = 0
    if (n == 0) return
    status = trueanomaly_array(mean_anomalies, int(n, c_int32_t), eccentricity, true_anomalies, &
                               int(max_iterations, c_int32_t), int(tolerance, c_int32_t))
  end function convert_ss

  function convert_sd(mean_anomalies, eccentricity, true_anomalies, &
      max_iterations, tolerance) result(status)
    real(c_float), intent(in) :: mean_anomalies(:)
    real(c_double), intent(in) :: eccentricity
    real(c_float), intent(inout) :: true_anomalies(:)
    integer, intent(in) :: max_iterations, tolerance
    integer(c_int32_t) :: status
    status = convert_ss(mean_anomalies, real(eccentricity, c_float), true_anomalies, &
                        max_iterations, tolerance)
  end function convert_sd

  function convert_ds(mean_anomalies, eccentricity, true_anomalies, &
      max_iterations, tolerance) result(status)
    real(c_double), intent(in) :: mean_anomalies(:)
    real(c_float), intent(in) :: eccentricity
    real(c_double), intent(inout) :: true_anomalies(:)
    integer, intent(in) :: max_iterations, tolerance
    integer(c_int32_t) :: status
    integer, parameter :: i8 = selected_int_kind(18)
    real(c_float), allocatable :: m(:), nu(:)
    integer(c_int32_t) :: one
    integer :: i
    status = trueanomaly_invalid_argument
    if (size(true_anomalies, kind=i8) < size(mean_anomalies, kind=i8) .or. &
        size(mean_anomalies, kind=i8) > int(huge(0_c_int32_t), i8)) return
    m = real(mean_anomalies, c_float)
    allocate(nu(size(m)))
    status = convert_ss(m, eccentricity, nu, max_iterations, tolerance)
    if (status == 0) then
      true_anomalies(1:size(m)) = real(nu, c_double)
    else if (status == -1) then
      ! The status does not say which element failed: the elements are
      ! asked again one at a time up to the first that fails, so that it
      ! and every later one keep what they held, as with single precision.
      do i = 1, size(m)
        one = convert_ss(m(i:i), eccentricity, nu(i:i), max_iterations, tolerance)
        if (one /= 0) exit
        true_anomalies(i) = real(nu(i), c_double)
      end do
    end if
  end function convert_ds

  function convert_dd(mean_anomalies, eccentricity, true_anomalies, &
      max_iterations, tolerance) result(status)
    real(c_double), intent(in) :: mean_anomalies(:)
    real(c_double), intent(in) :: eccentricity
    real(c_double), intent(inout) :: true_anomalies(:)
    integer, intent(in) :: max_iterations, tolerance
    integer(c_int32_t) :: status
    status = convert_ds(mean_anomalies, real(eccentricity, c_float), true_anomalies, &
                        max_iterations, tolerance)
  end function convert_dd

  elemental function true_anomaly_ss(mean_anomaly, eccentricity, max_iterations, tolerance) &
      result(nu)
    real(c_float), intent(in) :: mean_anomaly, eccentricity
    integer, intent(in) :: max_iterations, tolerance
    real(c_float) :: nu
    nu = trueanomaly(mean_anomaly, eccentricity, int(max_iterations, c_int32_t), &
                     int(tolerance, c_int32_t))
  end function true_anomaly_ss

  elemental function true_anomaly_sd(mean_anomaly, eccentricity, max_iterations, tolerance) &
      result(nu)
    real(c_float), intent(in) :: mean_anomaly
    real(c_double), intent(in) :: eccentricity
    integer, intent(in) :: max_iterations, tolerance
    real(c_float) :: nu
    nu = true_anomaly_ss(mean_anomaly, real(eccentricity, c_float), max_iterations, tolerance)
  end function true_anomaly_sd

  elemental function true_anomaly_ds(mean_anomaly, eccentricity, max_iterations, tolerance) &
      result(nu)
    real(c_double), intent(in) :: mean_anomaly
    real(c_float), intent(in) :: eccentricity
    integer, intent(in) :: max_iterations, tolerance
    real(c_double) :: nu
    nu = real(true_anomaly_ss(real(mean_anomaly, c_float), eccentricity, max_iterations, &
                              tolerance), c_double)
  end function true_anomaly_ds

  elemental function true_anomaly_dd(mean_anomaly, eccentricity, max_iterations, tolerance) &
      result(nu)
    real(c_double), intent(in) :: mean_anomaly, eccentricity
    integer, intent(in) :: max_iterations, tolerance
    real(c_double) :: nu
    nu = real(true_anomaly_ss(real(mean_anomaly, c_float), real(eccentricity, c_float), &
                              max_iterations, tolerance), c_double)
  end function true_anomaly_dd
end module libtrueanomaly
