! libtrueanomaly for Fortran 2003 and later: interfaces to the library's two
! C entries. Compile this file with your program and link -ltrueanomaly.
!
!   use libtrueanomaly
!   nu = trueanomaly(1.0_c_float, 0.5_c_float, 100_c_int32_t, 0_c_int32_t)
!   status = trueanomaly_array(m, size(m, kind=c_int32_t), 0.5_c_float, nu, 100_c_int32_t, 0_c_int32_t)
!
! Results, the tolerance in whole radians, the iteration limit and the failure
! contract are those of trueanomaly.h. In short: trueanomaly returns -1.0 when
! the iteration limit is reached (also a possible true anomaly: use
! trueanomaly_array with a count of 1 to tell them apart); trueanomaly_array
! returns 0, or -1 at the first element that reaches the limit, leaving that
! element and every later one of true_anomalies as it was. Both arrays must be
! contiguous and hold at least `count` elements; do not pass one array as both
! arguments (Fortran forbids that aliasing), copy it instead.
module libtrueanomaly
  use, intrinsic :: iso_c_binding, only: c_float, c_int32_t
  implicit none
  private
  public :: trueanomaly, trueanomaly_array, c_float, c_int32_t

  interface
    function trueanomaly(mean_anomaly, eccentricity, max_iterations, tolerance) &
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
end module libtrueanomaly
