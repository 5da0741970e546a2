"""Numbers the filters cannot take are refused with ValueError, never cast.

A white level beyond the 32-bit range or NaN, and a negative or NaN gain,
would otherwise reach the SDK as a meaningless integer or factor.
"""

import math

import numpy as np
import pytest

import opix


def test_white_levels_and_gains_out_of_range_raise_value_error():
    image = np.full((64, 64, 3), 200, np.uint8)
    identity = [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0]]
    for level in (2.0**31, 1e12, math.nan, math.inf, -1):
        with pytest.raises(ValueError, match="white_level must be three numbers from 0 to 2147483647"):
            opix.color_correction(image, identity, white_level=(level, 255, 255))
    # The largest level is taken and limits nothing.
    kept = opix.color_correction(image, identity, white_level=(2147483647, 255, 255))
    assert np.array_equal(kept, image)

    mosaic = np.full((64, 64), 100, np.uint8)
    for gain in (-0.5, math.nan, math.inf):
        with pytest.raises(ValueError, match="gains must be finite numbers of 0 or more"):
            opix.white_balance(mosaic, (1.0, gain, 1.0, 1.0))
    assert np.array_equal(opix.white_balance(mosaic, (0.0, 0.0, 0.0, 0.0)), np.zeros_like(mosaic))
