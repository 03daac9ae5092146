def test_placeholder(): pass
