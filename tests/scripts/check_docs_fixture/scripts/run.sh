#!/bin/sh
# Stands in for the agent in the fixture.
