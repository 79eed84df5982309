# Shorthands for the two README commands.
.PHONY: run test build
run:
	bash scripts/run.sh
test:
	bash scripts/test.sh
build:
	bash scripts/build.sh
