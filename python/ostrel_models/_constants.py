"""Physical constants in cgs as plain floats (CODATA 2018, from astropy)."""

from __future__ import annotations

import math

from astropy import constants as _c
from astropy import units as _u

C = _c.c.cgs.value                          # speed of light [cm s^-1]
H = _c.h.cgs.value                          # Planck constant [erg s]
K_B = _c.k_B.cgs.value                      # Boltzmann constant [erg K^-1]
M_E = _c.m_e.cgs.value                      # electron mass [g]
MEC2 = M_E * C * C                          # electron rest energy [erg]
SIGMA_T = _c.sigma_T.cgs.value              # Thomson cross section [cm^2]
E_ESU = _c.e.esu.value                      # elementary charge [esu]
A_RAD = 4.0 * _c.sigma_sb.cgs.value / C     # radiation constant [erg cm^-3 K^-4]
NU_B_PER_GAUSS = E_ESU / (2.0 * math.pi * M_E * C)   # gyrofrequency per gauss [Hz G^-1]
# (4/3) σ_T c / (m_e c²): −dγ/dt = THOMSON_LOSS · u · γ²β² in the Thomson limit [cm^3 erg^-1 s^-1]
THOMSON_LOSS = 4.0 / 3.0 * SIGMA_T * C / MEC2
T_CMB0 = 2.7255                             # CMB temperature today [K] (Fixsen 2009)
EV = (1.0 * _u.eV).to_value(_u.erg)         # [erg]
G = _c.G.cgs.value                          # gravitational constant [cm^3 g^-1 s^-2]
M_SUN = _c.M_sun.cgs.value                  # solar mass [g]
PC = _u.pc.to(_u.cm)                        # parsec [cm]
SIGMA_SB = _c.sigma_sb.cgs.value            # Stefan-Boltzmann constant [erg cm^-2 s^-1 K^-4]
