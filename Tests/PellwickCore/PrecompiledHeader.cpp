// The unit that makes the precompiled header every test of Core reuses.
