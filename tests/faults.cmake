# The real host engine loading the real package against the replay caster's fault modes.
ntrip_engine_tests(faults)
