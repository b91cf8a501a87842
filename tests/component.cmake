# The real host engine loading the real package, against the replay caster on loopback.
ntrip_engine_tests(component)
