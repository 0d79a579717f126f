"""Fatal errors of the kernels reach Python as PanicException; nothing leaks."""

import os

import pytest

import ostrel
from conftest import INDEX


def overrun():
    """A call whose kernel reads past the end of a_nu."""
    return ostrel.rad_trans_blob(1.0, [1.0, 2.0], [1.0])


class TestPanicException:
    def test_kernel_error_text_is_the_single_argument(self, panic_type):
        with pytest.raises(panic_type) as info:
            overrun()
        assert info.value.args == (INDEX,)
        assert str(info.value) == INDEX

    def test_class_derives_directly_from_base_exception(self, panic_type):
        assert panic_type.__bases__ == (BaseException,)
        assert not issubclass(panic_type, Exception)
        assert panic_type.__name__ == "PanicException"
        assert panic_type.__module__ == "ostrel"
        assert "BaseException" in panic_type.__doc__

    def test_not_caught_by_except_exception(self, panic_type):
        caught = None
        try:
            try:
                overrun()
            except Exception:  # noqa: BLE001 - this clause must not see it
                pytest.fail("PanicException was caught as an Exception")
        except BaseException as error:
            caught = error
        assert type(caught) is panic_type

    def test_same_class_every_time_and_module_keeps_working(self, panic_type):
        for _ in range(3):
            with pytest.raises(BaseException) as info:
                ostrel.rad_trans_slab(1.0, [1.0], [])
            assert type(info.value) is panic_type
            assert ostrel.rad_trans_slab(2.0, [1.0], [0.0]) == [2.0]

    def test_no_partial_result_and_inputs_untouched(self, panic_type):
        j_nu, a_nu = [1.0, 2.0, 3.0], [0.0, 0.0]
        with pytest.raises(panic_type):
            ostrel.rad_trans_slab(1.0, j_nu, a_nu)
        assert j_nu == [1.0, 2.0, 3.0] and a_nu == [0.0, 0.0]

    def test_notice_on_standard_error(self, panic_type, capfd):
        with pytest.raises(panic_type):
            overrun()
        assert INDEX in capfd.readouterr().err

    def test_argument_errors_are_not_fatal(self, capfd):
        with pytest.raises(TypeError):
            ostrel.rad_trans_blob(1.0, [1.0], "ab")
        assert capfd.readouterr().err == ""


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer's quarantine holds freed memory; its leak checker rules")
def test_no_memory_grows_over_many_calls(panic_type, capfd):
    # Each call handles about 20 kB of vectors and lists: a leak of any of
    # them would add hundreds of MB over the loop, far above the allowance.
    values = [float(k) for k in range(1, 801)]
    zeros = [0.0] * 800

    def mixed_calls(count):
        for k in range(count):
            case = k % 5
            if case == 0:
                ostrel.rad_trans_blob(1.0, values, zeros)
            elif case == 1:
                ostrel.gofb(values)
            elif case == 2:
                try:
                    ostrel.rad_trans_blob(1.0, values, zeros[:-1])
                except panic_type:
                    pass
            elif case == 3:
                try:
                    ostrel.rad_trans_slab(1.0, values, zeros + ["x"])
                except TypeError:
                    pass
            else:
                try:
                    ostrel.rad_trans_slab(1.0, values, zeros, extra=1)
                except TypeError:
                    pass

    mixed_calls(1000)  # warm up allocator pools and the exception class
    before = resident_kib()
    mixed_calls(10_000)
    growth = resident_kib() - before
    capfd.readouterr()  # drop the fatal-error notices
    assert growth < 4096, f"resident memory grew by {growth} KiB"
