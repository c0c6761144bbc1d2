// The unit that makes the precompiled header every test of the application reuses.
