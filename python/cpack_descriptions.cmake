# Read by cpack (CPACK_PROJECT_CONFIG_FILE) when it packages programma and
# python3-programma apart: each package gets its own whole description,
# programma's the one it has when packaged alone.
set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "digit recogniser from Python: a scikit-learn classifier on programma
programma.KernelPerceptronClassifier trains programma's kernel perceptrons,
one per class, with the same mistake lists and decision sums as programma,
and reads and writes programma's sample files and mistake lists.")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
