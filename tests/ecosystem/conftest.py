def pytest_configure(config):
    config.addinivalue_line("markers", "slow: builds and installs the package (about a minute); deselect with -m 'not slow'")
