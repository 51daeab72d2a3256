#!/bin/sh
# Prints a usage line as update_agent -h does.
echo
echo "Fixture Agent, version 1"
echo "usage: fake_agent.sh [-i][-start][-h]"
echo "where:  i     Installs the services."
